// Metafiles converted to SVG by the libraries, each run in a child process,
// and drawn by Qt SVG.
#include "workbook/grid/UKmrMetafile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QPainter>
#include <QSvgRenderer>

#include <emf2svg.h>
#include <libwmf/api.h>
#include <libwmf/svg.h>

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

// libwmf's SVG device writing into memory, images inline.
std::string WmfToSvg(std::span<const std::uint8_t> file) {
    wmfAPI_Options options{};
    options.function = wmf_svg_function;
    const unsigned long flags = WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
    wmfAPI* api = nullptr;
    if (wmf_api_create(&api, flags, &options) != wmf_E_None) {
        if (api != nullptr) wmf_api_destroy(api);
        return {};
    }
    std::vector<unsigned char> bytes(file.begin(), file.end());
    std::string svg;
    if (wmf_mem_open(api, bytes.data(), static_cast<long>(bytes.size())) == wmf_E_None) {
        wmfD_Rect box{};
        wmf_svg_t* device = WMF_SVG_GetData(api);
        if (wmf_scan(api, 0, &box) == wmf_E_None && (device->out = wmf_stream_create(api, nullptr)) != nullptr) {
            char description[] = "metafile";
            device->Description = description;
            device->bbox = box;
            unsigned int width = 0;
            unsigned int height = 0;
            wmf_display_size(api, &width, &height, 96, 96);
            device->width = width;
            device->height = height;
            device->flags |= WMF_SVG_INLINE_IMAGES;
            const bool played = wmf_play(api, 0, &box) == wmf_E_None;
            char* text = nullptr;
            unsigned long length = 0;
            wmf_stream_destroy(api, device->out, &text, &length);
            if (played && text != nullptr) svg.assign(text, length);
        }
        wmf_mem_close(api);
    }
    wmf_api_destroy(api);
    return svg;
}

std::string EmfToSvg(std::span<const std::uint8_t> file) {
    std::vector<char> bytes(file.begin(), file.end());
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

// The child's address space: what it has now and a gigabyte more (not
// under a sanitizer, whose shadow memory is reserved address space).
void LimitChildMemory() {
    if constexpr (Sanitized) return;
    std::ifstream statm("/proc/self/statm");
    unsigned long long pages = 0;
    if (!(statm >> pages)) return;
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
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
    }
    const rlimit cpu{ChildSeconds, ChildSeconds};
    setrlimit(RLIMIT_CPU, &cpu);
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
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    return text;
}

// Runs convert in a child process: whatever the library does there (a
// crash, exit, abort, a loop, memory without end) ends the child only.
std::string Isolated(const std::function<std::string()>& convert) {
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
    return Isolated([&] { return type == TXlsImgTypes::xli_Wmf ? WmfToSvg(file) : EmfToSvg(file); });
}

TKmrVectorPicture::~TKmrVectorPicture() = default;

std::shared_ptr<const TKmrVectorPicture> TKmrVectorPicture::FromSvg(const std::string& svg) {
    if (svg.empty() || svg.size() > MaxMetafileSvg) return nullptr;
    std::shared_ptr<TKmrVectorPicture> picture(new TKmrVectorPicture);
    picture->FRenderer = std::make_unique<QSvgRenderer>(QByteArray::fromStdString(svg));
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
    ++FConversions;
    auto picture = TKmrVectorPicture::FromSvg(MetafileToSvg(file, type));
    FPictures.emplace(key, picture);
    return picture;
}

}  // namespace kalmira
