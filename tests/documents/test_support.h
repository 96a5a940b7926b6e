// Helpers for the documents tests: a scratch folder, whole-file access and
// recent-file slots kept in memory.
#pragma once

#include <grp.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "documents/recent_files.h"

namespace tessaly::test {

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessaly-docs-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

private:
    std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Menu items in memory: a name and a shown state per slot, and every call.
struct FakeSlots : RecentSlots {
    std::array<std::u16string, kCount> names;
    std::array<bool, kCount> shown{};
    std::vector<std::string> calls;

    std::u16string SlotName(int i) const override { return names.at(static_cast<std::size_t>(i)); }
    void SetSlotName(int i, const std::u16string& name) override {
        names.at(static_cast<std::size_t>(i)) = name;
        calls.push_back("name" + std::to_string(i));
    }
    void SetSlotShown(int i, bool on) override {
        shown.at(static_cast<std::size_t>(i)) = on;
        calls.push_back((on ? "show" : "hide") + std::to_string(i));
    }
    // Slots as given, each shown if and only if it has a name.
    void Fill(const std::array<std::u16string, kCount>& list) {
        names = list;
        for (int i = 0; i < kCount; ++i) shown[static_cast<std::size_t>(i)] = !list[static_cast<std::size_t>(i)].empty();
        calls.clear();
    }
};

// Runs body in a child process and returns its exit status, or -1 if the
// child died. The child must not touch the test framework.
inline int InChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

inline constexpr int kCannotDropRoot = 200;
inline constexpr uid_t kNobody = 65534;

// Runs body as an ordinary user: as root, in a child that became "nobody".
inline int AsOrdinaryUser(const std::function<int()>& body) {
    if (::geteuid() != 0) return body();
    return InChild([&] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) return kCannotDropRoot;
        return body();
    });
}

}  // namespace tessaly::test
