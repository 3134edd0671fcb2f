#include "platform/sys/Registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace plat {

namespace {

constexpr const char* kSystemStore = "/etc/orvelo/registry";

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    std::size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string TRegistryStore::DefaultPath() {
    const char* env = std::getenv("ORVELO_REGISTRY");
    return env && *env ? env : kSystemStore;
}

TRegistryStore::TRegistryStore(std::string path) : path_(std::move(path)) {}

bool TRegistryStore::OpenKey() {
    open_ = false;
    lines_.clear();
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return false;
    std::stringstream buf;
    buf << in.rdbuf();
    if (in.bad()) return false;
    std::string text = buf.str();
    finalNewline_ = text.empty() || text.back() == '\n';
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        Line line;
        line.raw = text.substr(pos, end - pos);
        std::string body = line.raw;
        if (!body.empty() && body.back() == '\r') body.pop_back();
        std::size_t eq = body.find('=');
        bool comment = !body.empty() && (body[0] == '#' || body[0] == ';');
        if (eq != std::string::npos && !comment) {
            line.name = Trim(body.substr(0, eq));
            line.valueAt = eq + 1;
        }
        lines_.push_back(std::move(line));
        pos = end + 1;
    }
    open_ = true;
    return true;
}

void TRegistryStore::CloseKey() {
    open_ = false;
    lines_.clear();
}

std::size_t TRegistryStore::Find(const std::string& name) const {
    std::size_t i = 0;
    while (i < lines_.size() && (lines_[i].name.empty() || !SameName(lines_[i].name, name))) ++i;
    return i;
}

std::optional<std::string> TRegistryStore::ReadValue(const std::string& name) const {
    std::size_t at = Find(name);
    if (!open_ || at == lines_.size()) return std::nullopt;
    std::string value = lines_[at].raw.substr(lines_[at].valueAt);
    if (!value.empty() && value.back() == '\r') value.pop_back();
    return value;
}

std::string TRegistryStore::ReadString(const std::string& name) const {
    return ReadValue(name).value_or(std::string());
}

bool TRegistryStore::WriteString(const std::string& name, const std::string& value) {
    if (!open_ || name.empty() || name.find_first_of("=\r\n") != std::string::npos ||
        value.find_first_of("\r\n") != std::string::npos)
        return false;
    std::vector<Line> lines = lines_;
    std::size_t at = Find(name);
    bool found = at < lines.size();
    if (found) {
        Line& line = lines[at];
        bool cr = !line.raw.empty() && line.raw.back() == '\r';
        line.raw = line.raw.substr(0, line.valueAt) + value + (cr ? "\r" : "");
    } else {
        lines.push_back(Line{name + "=" + value, name, name.size() + 1});
    }
    bool newline = finalNewline_ || !found;
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        text += lines[i].raw;
        if (i + 1 < lines.size() || newline) text += '\n';
    }
    if (!Store(text)) return false;
    lines_ = std::move(lines);
    finalNewline_ = newline;
    return true;
}

// The new contents go to a temporary file in the same folder, which then
// replaces the store in one rename: a reader sees the old file or the new
// one, never a half-written one.
bool TRegistryStore::Store(const std::string& text) const {
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) return false;
    std::string temp = path_ + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = WriteAll(fd, text) && ::fchmod(fd, st.st_mode & 07777) == 0 && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), path_.c_str()) == 0) return true;
    ::unlink(temp.c_str());
    return false;
}

}  // namespace plat
