#include "platform/qt/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <stdexcept>

namespace plat {

namespace {

// A named block travels under the type other programs give a clipboard
// format registered by name.
QString MimeType(const std::string& format) {
    return QStringLiteral("application/x-qt-windows-mime;value=\"%1\"").arg(QString::fromStdString(format));
}

QClipboard& Board() {
    QClipboard* board = QGuiApplication::clipboard();
    if (!board) throw std::runtime_error("There is no clipboard");
    return *board;
}

}  // namespace

void TQtClipboard::PutBlock(const std::string& format, std::span<const std::uint8_t> block,
                            const std::u16string& text) {
    auto data = std::make_unique<QMimeData>();
    data->setData(MimeType(format),
                  QByteArray(reinterpret_cast<const char*>(block.data()), static_cast<qsizetype>(block.size())));
    data->setText(QString::fromStdU16String(text));
    Board().setMimeData(data.release());  // the clipboard owns it now
}

bool TQtClipboard::HasBlock(const std::string& format) const {
    const QMimeData* data = Board().mimeData();
    return data && data->hasFormat(MimeType(format));
}

std::vector<std::uint8_t> TQtClipboard::GetBlock(const std::string& format) const {
    const QMimeData* data = Board().mimeData();
    if (!data) return {};
    const QByteArray bytes = data->data(MimeType(format));
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

bool TQtClipboard::HasText() const {
    const QMimeData* data = Board().mimeData();
    return data && data->hasText();
}

std::u16string TQtClipboard::GetText() const { return Board().text().toStdU16String(); }

}  // namespace plat
