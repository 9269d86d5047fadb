// The memo table: open addressing with linear probing over (key, position).
#include "frontend/parser/peg_memo.hpp"

namespace morvane::frontend::parser::peg {

size_t Memo::home(uint32_t key, uint32_t pos) const {
    const uint64_t mixed = (uint64_t{key} << 32 | pos) * 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(mixed >> 32) & (slots_.size() - 1);
}

const MemoEntry* Memo::find_slot(uint32_t key, uint32_t pos) const {
    for (size_t i = home(key, pos);; i = (i + 1) & (slots_.size() - 1)) {
        const Slot& slot = slots_[i];
        if (slot.key == key && slot.pos == pos) return &slot.entry;
        if (slot.key == kFree) return nullptr;
    }
}

MemoEntry& Memo::insert(uint32_t key, uint32_t pos) {
    if (marked_.empty()) marked_.assign(text_size_ / 64 + 1, 0);
    if ((count_ + 1) * 2 > slots_.size()) grow();
    marked_[pos >> 6] |= uint64_t{1} << (pos & 63);
    for (size_t i = home(key, pos);; i = (i + 1) & (slots_.size() - 1)) {
        Slot& slot = slots_[i];
        if (slot.key == key && slot.pos == pos) return slot.entry;
        if (slot.key == kFree) {
            slot = Slot{pos, key, MemoEntry{}};
            ++count_;
            return slot.entry;
        }
    }
}

void Memo::grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{0, kFree, MemoEntry{}});
    for (const Slot& slot : old) {
        if (slot.key == kFree) continue;
        size_t i = home(slot.key, slot.pos);
        while (slots_[i].key != kFree) i = (i + 1) & (slots_.size() - 1);
        slots_[i] = slot;
    }
}

}  // namespace morvane::frontend::parser::peg
