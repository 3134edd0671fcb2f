#include "workbook/grid/UKmrQtClipboard.h"

#include <algorithm>
#include <cctype>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace kalmira {

std::string TKmrQtClipboard::MimeType(const std::string& format) {
    std::string lower = format;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return "application/x-kmr-" + lower;
}

void TKmrQtClipboard::PutBlock(const std::string& format, std::span<const std::uint8_t> block,
                               const std::u16string& text) {
    auto* data = new QMimeData;  // the clipboard takes it
    data->setData(QString::fromStdString(MimeType(format)),
                  QByteArray(reinterpret_cast<const char*>(block.data()), static_cast<qsizetype>(block.size())));
    data->setText(QString::fromStdU16String(text));
    QGuiApplication::clipboard()->setMimeData(data);
}

bool TKmrQtClipboard::HasBlock(const std::string& format) const {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data != nullptr && data->hasFormat(QString::fromStdString(MimeType(format)));
}

std::vector<std::uint8_t> TKmrQtClipboard::GetBlock(const std::string& format) const {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (data == nullptr) return {};
    const QByteArray bytes = data->data(QString::fromStdString(MimeType(format)));
    return {bytes.begin(), bytes.end()};
}

bool TKmrQtClipboard::HasText() const {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data != nullptr && data->hasText();
}

std::u16string TKmrQtClipboard::GetText() const {
    return QGuiApplication::clipboard()->text().toStdU16String();
}

}  // namespace kalmira
