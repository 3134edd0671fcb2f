// The configuration store: a small text file that stands for one registry
// key of string values.  One "name=value" per line; names compare without
// regard to ASCII letter case; every other line is carried along untouched.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace plat {

class TRegistryStore {
public:
    // ORVELO_REGISTRY when set, else the system location.
    static std::string DefaultPath();

    explicit TRegistryStore(std::string path = DefaultPath());

    const std::string& Path() const { return path_; }

    // Reads the file; false when it is missing or unreadable (never created).
    bool OpenKey();
    void CloseKey();

    // The value of the first line with that name; nothing when absent.
    std::optional<std::string> ReadValue(const std::string& name) const;
    // A missing value reads as the empty string.
    std::string ReadString(const std::string& name) const;

    // Replaces the value in place (or appends a line) and replaces the file
    // as a whole through a temporary beside it; false when the key is not
    // open or the file could not be replaced (the old file then stays).
    bool WriteString(const std::string& name, const std::string& value);

private:
    struct Line {
        std::string raw;       // as read, without the line feed
        std::string name;      // empty when the line holds no value
        std::size_t valueAt = 0;
    };
    // Index of the first line with that name, or the line count.
    std::size_t Find(const std::string& name) const;
    bool Store(const std::string& text) const;

    std::string path_;
    bool open_ = false;
    bool finalNewline_ = true;
    std::vector<Line> lines_;
};

}  // namespace plat
