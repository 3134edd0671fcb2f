// Metafiles converted to SVG by the libraries, each run in a child process,
// and drawn by Qt SVG.
#include "workbook/grid/UKmrMetafile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QPainter>
#include <QSvgRenderer>
#include <QXmlStreamReader>

#include <emf2svg.h>
#include <libwmf/api.h>
#include <libwmf/svg.h>

#include "platform/sys/Codepage.h"

namespace kalmira {

namespace {

// A conversion that takes longer than this (wall clock, or processor time
// in the child) is given up.
constexpr int ChildSeconds = 15;
// Room the child may allocate beyond what it shares with the parent.
constexpr rlim_t ChildExtraMemory = rlim_t(1) << 30;
// Converted files remembered at most; the cache starts afresh beyond.
constexpr std::size_t MaxCachedMetafiles = 256;

constexpr std::uint32_t PlaceableKey = 0x9AC6CDD7;
constexpr std::size_t PlaceableSize = 22;
constexpr std::size_t WmfHeaderSize = 18;  // 9 words
constexpr std::uint32_t EmfHeaderRecord = 1;
constexpr std::size_t EmfHeaderSize = 88;
constexpr std::uint32_t EmfSignature = 0x464D4520;  // " EMF"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool Sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif
#else
constexpr bool Sanitized = false;
#endif

std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t Le16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

// libwmf's SVG device writes a text's bytes as they are: "R&D" or "a<b"
// would leave no valid SVG, and a text could even write elements of its
// own (an image read from any file). In the copy libwmf reads, the
// characters of markup in TEXTOUT and EXTTEXTOUT texts become control
// bytes (which XML cannot hold, so that the ones there were become
// spaces), and EntitiesForMarks writes those as entities.
constexpr std::pair<unsigned char, std::string_view> WmfMarks[] = {{1, "&amp;"}, {2, "&lt;"}, {3, "&gt;"}};
constexpr std::uint16_t WmfTextOut = 0x0521, WmfExtTextOut = 0x0A32;
constexpr std::uint16_t EtoOpaque = 0x0002, EtoClipped = 0x0004;

void MarkText(std::span<unsigned char> text) {
    for (unsigned char& c : text) {
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') c = ' ';
        if (c == '&') c = WmfMarks[0].first;
        if (c == '<') c = WmfMarks[1].first;
        if (c == '>') c = WmfMarks[2].first;
    }
}

void MarkWmfTexts(std::vector<unsigned char>& bytes) {
    const std::span<const std::uint8_t> b(bytes.data(), bytes.size());
    std::size_t at = b.size() >= PlaceableSize && Le32(b, 0) == PlaceableKey ? PlaceableSize : 0;
    if (b.size() < at + WmfHeaderSize) return;
    at += 2 * static_cast<std::size_t>(Le16(b, at + 2));
    while (at + 6 <= b.size()) {
        const std::size_t size = 2 * static_cast<std::size_t>(Le32(b, at));
        if (size < 6 || size > b.size() - at) return;
        const std::size_t end = at + size;
        std::size_t text = 0, count = 0;
        if (Le16(b, at + 4) == WmfTextOut && size >= 8) {
            count = Le16(b, at + 6);
            text = at + 8;
        } else if (Le16(b, at + 4) == WmfExtTextOut && size >= 14) {
            count = Le16(b, at + 10);
            text = at + 14 + (Le16(b, at + 12) & (EtoOpaque | EtoClipped) ? 8 : 0);
        }
        if (text != 0 && text < end) MarkText(std::span(bytes).subspan(text, std::min(count, end - text)));
        at = end;
    }
}

std::string EntitiesForMarks(const std::string& svg) {
    std::string out;
    out.reserve(svg.size());
    for (const char c : svg) {
        const auto mark = std::find_if(std::begin(WmfMarks), std::end(WmfMarks),
                                       [&](const auto& m) { return static_cast<unsigned char>(c) == m.first; });
        if (mark == std::end(WmfMarks)) out += c;
        else out += mark->second;
    }
    return out;
}

// libwmf's SVG device writing into memory, images inline. The memory is a
// stdio stream of the C library, which grows its buffer by doubling: the
// library's own memory stream grows by a fixed step, and its copying makes
// a picture of many small elements take time by the square of its size.
// Only the child runs this: the stream is left to the child's exit.
std::string WmfToSvg(std::span<const std::uint8_t> file) {
    wmfAPI_Options options{};
    options.function = wmf_svg_function;
    const unsigned long flags = WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
    wmfAPI* api = nullptr;
    if (wmf_api_create(&api, flags, &options) != wmf_E_None) {
        if (api != nullptr) wmf_api_destroy(api);
        return {};
    }
    char* text = nullptr;
    std::size_t length = 0;
    FILE* memory = open_memstream(&text, &length);
    std::vector<unsigned char> bytes(file.begin(), file.end());
    MarkWmfTexts(bytes);
    std::string svg;
    if (memory != nullptr && wmf_mem_open(api, bytes.data(), static_cast<long>(bytes.size())) == wmf_E_None) {
        wmfD_Rect box{};
        wmf_svg_t* device = WMF_SVG_GetData(api);
        if (wmf_scan(api, 0, &box) == wmf_E_None && (device->out = wmf_stream_create(api, memory)) != nullptr) {
            char description[] = "metafile";
            device->Description = description;
            device->bbox = box;
            unsigned int width = 0;
            unsigned int height = 0;
            wmf_display_size(api, &width, &height, 96, 96);
            device->width = width;
            device->height = height;
            device->flags |= WMF_SVG_INLINE_IMAGES;
            if (wmf_play(api, 0, &box) == wmf_E_None && std::fflush(memory) == 0 && text != nullptr)
                svg = EntitiesForMarks(std::string(text, length));
        }
        wmf_mem_close(api);
    }
    return svg;
}

// libemf2svg with EMF+ records read, elements without a prefix.
std::string EmfBytesToSvg(std::vector<char>& bytes) {
    char noPrefix[] = "";
    generatorOptions options{};
    options.nameSpace = noPrefix;
    options.verbose = false;
    options.emfplus = true;
    options.svgDelimiter = true;
    char* out = nullptr;
    std::size_t length = 0;
    const int converted = emf2svg(bytes.data(), bytes.size(), &out, &length, &options);
    std::string svg;
    if (converted != 0 && out != nullptr) svg.assign(out, length);
    std::free(out);
    return svg;
}

// Bitmap records whose bitmap libemf2svg cannot decode (run-length
// compressed): it gives up on the whole file for them.
constexpr std::uint32_t EmfBitmapRecords[][2] = {
    // record type, offset of the bitmap header's offset
    {76, 84},  // BITBLT
    {77, 84},  // STRETCHBLT
    {80, 48},  // SETDIBITSTODEVICE
    {81, 48},  // STRETCHDIBITS
};
constexpr std::uint32_t EmfComment = 70;
constexpr std::uint32_t BiRle8 = 1;
constexpr std::uint32_t BiRle4 = 2;

// The file with those bitmap records turned into comments (of no known
// kind), so that the rest of the picture still draws; false when there
// were none.
bool WithoutRleBitmaps(std::vector<char>& bytes) {
    std::span<const std::uint8_t> b(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    bool changed = false;
    for (std::size_t at = 0; at + 8 <= b.size();) {
        const std::uint32_t type = Le32(b, at), size = Le32(b, at + 4);
        if (size < 8 || size % 4 != 0 || size > b.size() - at) break;
        for (const auto& [kind, header] : EmfBitmapRecords) {
            if (type != kind || size < header + 8) continue;
            const std::uint32_t bmi = Le32(b, at + header);
            if (bmi < 8 || bmi > size - 20) continue;
            const std::uint32_t compression = Le32(b, at + bmi + 16);
            if (compression != BiRle8 && compression != BiRle4) continue;
            for (const auto& [offset, value] :
                 {std::pair{0u, EmfComment}, std::pair{8u, size - 12}, std::pair{12u, 0u}})
                for (int i = 0; i < 4; ++i) bytes[at + offset + i] = static_cast<char>(value >> 8 * i);
            changed = true;
        }
        at += size;
    }
    return changed;
}

std::string EmfToSvg(std::span<const std::uint8_t> file) {
    std::vector<char> bytes(file.begin(), file.end());
    std::string svg = EmfBytesToSvg(bytes);
    if (svg.empty() && WithoutRleBitmaps(bytes)) svg = EmfBytesToSvg(bytes);
    return svg;
}

// The child's address space: what it has now and a gigabyte more (not
// under a sanitizer, whose shadow memory is reserved address space). Read
// with plain system calls: a forked child of a program with threads had
// better not take the C++ library's locks (a stream takes its locale's).
void LimitChildMemory() {
    if constexpr (Sanitized) return;
    const int statm = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (statm < 0) return;
    char text[64];
    const ssize_t n = read(statm, text, sizeof text);
    close(statm);
    unsigned long long pages = 0;
    if (n <= 0 || std::from_chars(text, text + n, pages).ec != std::errc()) return;
    const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + ChildExtraMemory;
    const rlimit r{limit, limit};
    setrlimit(RLIMIT_AS, &r);
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

[[noreturn]] void RunChild(int out, const std::function<std::string()>& convert) {
    // A library that calls exit must not run the parent's exit handlers
    // and static destructors here (a printer would end its document): the
    // handler registered last runs first.
    std::atexit([] { _exit(1); });
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
    }
    const rlimit cpu{ChildSeconds, ChildSeconds};
    setrlimit(RLIMIT_CPU, &cpu);
    // A file that makes a library crash, or run out of time, ends the child
    // without a core file: it would be one of the whole program, and one
    // at each reading of the file.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    LimitChildMemory();
    std::string svg;
    try {
        svg = convert();
    } catch (...) {
        _exit(1);
    }
    // No exit handlers: they belong to the parent.
    _exit(!svg.empty() && WriteAll(out, svg) ? 0 : 1);
}

// What the child writes until it ends, when it ends well in time and
// within the size; otherwise empty, the child killed.
std::string ReadChild(pid_t child, int in) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(ChildSeconds);
    std::string text;
    bool ended = false;
    std::vector<char> buffer(1 << 16);
    while (!ended) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        pollfd p{in, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        const ssize_t n = read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || text.size() + static_cast<std::size_t>(n) > MaxMetafileSvg) break;
        if (n == 0) ended = true;
        text.append(buffer.data(), static_cast<std::size_t>(n));
    }
    close(in);
    if (!ended) kill(child, SIGKILL);
    int status = 0;
    pid_t waited;
    do waited = waitpid(child, &status, 0);
    while (waited < 0 && errno == EINTR);
    if (!ended || waited != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    return text;
}

}  // namespace

std::string ConvertInChild(const std::function<std::string()>& convert) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return {};
    const pid_t child = fork();
    if (child < 0) {
        close(fds[0]);
        close(fds[1]);
        return {};
    }
    if (child == 0) {
        close(fds[0]);
        RunChild(fds[1], convert);
    }
    close(fds[1]);
    return ReadChild(child, fds[0]);
}

namespace {

// Three habits of libwmf's SVG undone. Its polylines say only how they
// are stroked, and SVG fills an element without a fill in black: an
// outline would hide what it outlines. Its images have their place and
// size already and are then moved and scaled there once more (from the
// bitmap's size): the second time goes. And a pen of width 0, one device
// pixel whatever the scale, comes out as a width below one unit that
// drawing the picture larger or smaller would thin or thicken: it stays a
// pixel.
void TidyWmfElement(std::string& svg) {
    constexpr std::string_view polyline = "<polyline ", style = "style=\"", none = "fill:none; ";
    for (std::size_t at = svg.find(polyline); at != std::string::npos; at = svg.find(polyline, at + 1)) {
        const std::size_t end = svg.find('>', at);
        const std::size_t s = svg.find(style, at);
        if (s == std::string::npos || s > end) continue;
        svg.insert(s + style.size(), none);
    }
    constexpr std::string_view image = "<image ", matrix = "transform=\"matrix(";
    for (std::size_t at = svg.find(image); at != std::string::npos; at = svg.find(image, at + 1)) {
        const std::size_t end = svg.find('>', at);
        const std::size_t m = svg.find(matrix, at);
        if (m == std::string::npos || m > end) continue;
        const std::size_t from = m + matrix.size(), to = svg.find(')', from);
        if (to == std::string::npos || to > end) continue;
        double v[6];
        const char* p = svg.data() + from;
        const char* const last = svg.data() + to;
        int n = 0;
        for (std::from_chars_result r{p, std::errc()}; n < 6; ++n, p = r.ptr) {
            while (p < last && *p == ' ') ++p;
            r = std::from_chars(p, last, v[n]);
            if (r.ec != std::errc()) break;
        }
        if (n != 6 || v[0] <= 0 || v[1] != 0 || v[2] != 0 || v[3] <= 0) continue;
        svg.replace(from, to - from, "1 0 0 1 0 0");
    }
    constexpr std::string_view width = "stroke-width:", hairline = "1; vector-effect:non-scaling-stroke;";
    for (std::size_t at = svg.find(width); at != std::string::npos; at = svg.find(width, at + 1)) {
        const std::size_t from = at + width.size();
        const std::size_t to = svg.find(';', from);
        double value = 1;
        if (to == std::string::npos ||
            std::from_chars(svg.data() + from, svg.data() + to, value).ptr != svg.data() + to || !(value < 1))
            continue;
        svg.replace(from, to + 1 - from, hairline);
    }
}

// The text taken element by element (up to each ">"), so that the edits
// above cost the length of one element, not of the whole text.
std::string TidyWmfSvg(const std::string& svg) {
    std::string tidy, element;
    tidy.reserve(svg.size() + svg.size() / 4);
    for (std::size_t at = 0; at < svg.size();) {
        const std::size_t end = std::min(svg.find('>', at), svg.size() - 1) + 1;
        element.assign(svg, at, end - at);
        TidyWmfElement(element);
        tidy += element;
        at = end;
    }
    return tidy;
}

}  // namespace

bool LooksLikeMetafile(std::span<const std::uint8_t> file, TXlsImgTypes type) {
    if (file.size() > MaxConvertedMetafile) return false;
    if (type == TXlsImgTypes::xli_Emf)
        return file.size() >= EmfHeaderSize && Le32(file, 0) == EmfHeaderRecord && Le32(file, 4) >= EmfHeaderSize &&
               Le32(file, 4) <= file.size() && Le32(file, 40) == EmfSignature;
    if (type != TXlsImgTypes::xli_Wmf) return false;
    const std::size_t start = file.size() >= PlaceableSize && Le32(file, 0) == PlaceableKey ? PlaceableSize : 0;
    if (file.size() < start + WmfHeaderSize) return false;
    const std::uint16_t kind = Le16(file, start);
    return (kind == 1 || kind == 2) && Le16(file, start + 2) == WmfHeaderSize / 2;
}

std::string MetafileToSvg(std::span<const std::uint8_t> file, TXlsImgTypes type) {
    if (!LooksLikeMetafile(file, type)) return {};
    if (type == TXlsImgTypes::xli_Emf) return ConvertInChild([&] { return EmfToSvg(file); });
    // libwmf writes the bytes of a text as the metafile holds them, in the
    // font's code page: taken as the program's own, 1250. The tidying works
    // on what the metafile made, and so runs in the child under its limits;
    // it leaves those bytes as they are.
    return plat::Cp1250ToUtf8(ConvertInChild([&] { return TidyWmfSvg(WmfToSvg(file)); }));
}

TKmrVectorPicture::~TKmrVectorPicture() = default;

namespace {

// Whether every reference of the SVG stays inside it: a data URI or an
// element of its own ("#id"). The libraries write their images inline; a
// reference to anything else can only have come from a text of the
// metafile that wrote markup, and Qt SVG would read the file it names.
bool SelfContained(const QByteArray& svg) {
    // As Qt SVG reads it: libwmf uses the xlink prefix without declaring it.
    QXmlStreamReader xml(svg);
    xml.setNamespaceProcessing(false);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        for (const QXmlStreamAttribute& attribute : xml.attributes()) {
            const QStringView name = attribute.qualifiedName();
            if (name != QLatin1String("href") && !name.endsWith(QLatin1String(":href"))) continue;
            const QStringView value = attribute.value().trimmed();
            if (!value.startsWith(QLatin1String("data:"), Qt::CaseInsensitive) && !value.startsWith(u'#'))
                return false;
        }
    }
    return !xml.hasError();
}

}  // namespace

std::shared_ptr<const TKmrVectorPicture> TKmrVectorPicture::FromSvg(const std::string& svg) {
    if (svg.empty() || svg.size() > MaxMetafileSvg) return nullptr;
    const QByteArray text = QByteArray::fromStdString(svg);
    if (!SelfContained(text)) return nullptr;
    std::shared_ptr<TKmrVectorPicture> picture(new TKmrVectorPicture);
    picture->FRenderer = std::make_unique<QSvgRenderer>(text);
    if (!picture->FRenderer->isValid()) return nullptr;
    return picture;
}

void TKmrVectorPicture::Draw(QPainter& painter, const QRectF& rect) const {
    if (rect.isEmpty()) return;
    painter.save();
    FRenderer->render(&painter, rect);
    painter.restore();
}

std::shared_ptr<const TKmrVectorPicture> TKmrMetafileCache::Get(std::span<const std::uint8_t> file, TXlsImgTypes type) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView(file.data(), static_cast<qsizetype>(file.size())));
    const QByteArray key = QByteArray(1, static_cast<char>(type)) + hash.result();
    if (const auto known = FPictures.find(key); known != FPictures.end()) return known->second;
    if (FPictures.size() >= MaxCachedMetafiles) FPictures.clear();
    auto picture = TKmrVectorPicture::FromSvg(MetafileToSvg(file, type));
    FPictures.emplace(key, picture);
    return picture;
}

}  // namespace kalmira
