#include "documents/recent_files.h"

#include <array>

namespace tessaly {

void RecentFileList::AddRecentFile(const std::u16string& name) {
    // One position more than there are slots: when name is new, the old last
    // slot lands in the extra position and is dropped.
    std::array<std::u16string, RecentSlots::kCount + 1> moved;
    moved[0] = name;
    std::size_t n = 0;
    for (int i = 0; i < RecentSlots::kCount; ++i) {
        std::u16string old = slots_.SlotName(i);
        if (old != name) moved[++n] = std::move(old);
    }
    for (int i = 0; i < RecentSlots::kCount; ++i) {
        const std::u16string& slotName = moved[static_cast<std::size_t>(i)];
        slots_.SetSlotName(i, slotName);
        slots_.SetSlotShown(i, false);
        if (!slotName.empty()) slots_.SetSlotShown(i, true);
    }
}

std::u16string RecentFileList::RecentFileName(int index) const { return slots_.SlotName(index); }

void RecentFileList::SetRecentFileName(int index, const std::u16string& name) {
    slots_.SetSlotName(index, name);
}

void RecentFileList::ClearRecentFiles() {
    for (int i = 0; i < RecentSlots::kCount; ++i) {
        slots_.SetSlotName(i, std::u16string());
        slots_.SetSlotShown(i, false);
    }
}

void RecentFileList::ShowRecentFiles() {
    for (int i = 0; i < RecentSlots::kCount; ++i) {
        if (!slots_.SlotName(i).empty()) slots_.SetSlotShown(i, true);
    }
}

}  // namespace tessaly
