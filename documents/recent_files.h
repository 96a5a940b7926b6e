// The five most recently opened or saved files, newest first.
#pragma once

#include <string>

namespace tessaly {

// The slots live in whatever shows them (the File menu's items); the list
// reads and writes them through this interface and keeps nothing itself.
class RecentSlots {
public:
    static constexpr int kCount = 5;
    virtual ~RecentSlots() = default;
    virtual std::u16string SlotName(int index) const = 0;
    virtual void SetSlotName(int index, const std::u16string& name) = 0;
    virtual void SetSlotShown(int index, bool shown) = 0;
};

class RecentFileList {
public:
    explicit RecentFileList(RecentSlots& menuSlots) : slots_(menuSlots) {}

    // Puts name into slot 0, removes every other copy of it and moves the
    // rest down; gaps move like names and are never compacted.
    void AddRecentFile(const std::u16string& name);
    std::u16string RecentFileName(int index) const;
    // Sets the name and leaves the visibility alone.
    void SetRecentFileName(int index, const std::u16string& name);
    void ClearRecentFiles();
    // Shows every slot with a name; never hides one.
    void ShowRecentFiles();

private:
    RecentSlots& slots_;
};

}  // namespace tessaly
