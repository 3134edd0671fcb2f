// Access to the committed workbook fixtures (tests/fixtures/xls, made by
// tests/fixtures/make_fixtures.py), and to what olefile and xlrd read from them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "workbook/storage/UOle2Impl.h"
#include "tests/workbook/storage/MessageOf.h"

namespace ole2test {

inline std::string FixtureDir() { return std::string(ORVELO_SOURCE_DIR) + "/tests/fixtures/xls"; }
inline std::string Fixture(const std::string& name) { return FixtureDir() + "/" + name + ".xls"; }

inline std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "missing " << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(line);
    return out;
}

inline std::vector<std::string> Split(const std::string& line, char sep = '\t') {
    std::vector<std::string> out;
    std::string part;
    std::istringstream in(line);
    while (std::getline(in, part, sep)) out.push_back(part);
    return out;
}

// Bytes from hex digits; spaces are skipped.
inline std::vector<std::uint8_t> Hex(std::string text) {
    std::erase(text, ' ');
    auto nibble = [&](std::size_t i) { return text[i] <= '9' ? text[i] - '0' : (text[i] | 0x20) - 'a' + 10; };
    std::vector<std::uint8_t> bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(nibble(2 * i) * 16 + nibble(2 * i + 1));
    return bytes;
}

// One stream of a fixture as olefile read it.
struct TOleStream {
    std::string Path;  // "Workbook", "MBD00000001/Workbook"
    std::vector<std::uint8_t> Bytes;
};

// Runs a command and returns its standard output; a failing command fails the test.
inline std::string Run(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return out;
    }
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    EXPECT_EQ(::pclose(pipe), 0) << command;
    return out;
}

inline std::string OleCheck(const std::string& what, const std::string& file) {
    return Run("/usr/bin/python3 " + std::string(ORVELO_SOURCE_DIR) + "/tests/fixtures/olecheck.py " + what + " '" +
               file + "'");
}

// Read once per fixture by olefile.
inline const std::vector<TOleStream>& OleStreams(const std::string& fixture) {
    static std::map<std::string, std::vector<TOleStream>> read;
    auto [at, added] = read.try_emplace(fixture);
    if (!added) return at->second;
    for (const auto& line : Lines(OleCheck("bytes", FixtureDir() + "/" + fixture + ".xls"))) {
        const auto fields = Split(line);
        at->second.push_back({fields.at(0), Hex(fields.size() > 1 ? fields[1] : "")});
    }
    return at->second;
}

inline std::vector<std::uint8_t> OleStream(const std::string& fixture, const std::string& path) {
    for (const auto& s : OleStreams(fixture))
        if (s.Path == path) return s.Bytes;
    ADD_FAILURE() << fixture << " has no stream " << path;
    return {};
}

// Copies a container with the given bytes as its new "Workbook" stream.
inline std::vector<std::uint8_t> SaveWith(const std::vector<std::uint8_t>& container,
                                          const std::vector<std::uint8_t>& workbook,
                                          const std::vector<std::u16string>& deleted = {}) {
    kalmira::TKmrMemoryStream in(container), out;
    kalmira::TOle2File ole(&in);
    ole.PrepareForWrite(&out, u"Workbook", deleted);
    ole.WriteMem(workbook.data(), workbook.size());
    ole.FinishStream();
    return out.Bytes();
}

inline std::vector<std::uint8_t> ReadStream(const std::vector<std::uint8_t>& container, std::u16string_view name) {
    kalmira::TKmrMemoryStream in(container);
    kalmira::TOle2File ole(&in);
    ole.SelectStream(name);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(ole.Length()));
    ole.ReadMem(bytes.data(), ole.Length());
    return bytes;
}

}  // namespace ole2test
