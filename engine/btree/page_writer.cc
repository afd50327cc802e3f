// The bottom-up page writer of the index builds (see page_writer.h).
#include "engine/btree/page_writer.h"

#include <cstring>
#include <new>

#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"

namespace qx::engine::btree {
namespace {

constexpr uint64_t kMaxFileEnd = uint64_t{1} << 32;

}  // namespace

PageWriter::PageWriter(uint16_t file_slot, const WriterShape& shape,
                       PageEncoder* encoder)
    : file_slot_(file_slot),
      shape_(shape),
      encoder_(encoder),
      separator_(shape.key_length, 0) {}

int16_t PageWriter::Start(uint64_t total_keys, uint32_t first_id,
                          uint32_t id_step) {
  if (id_step == 0) return Fail(kKbdErrCommand);
  sequential_ = SequentialIds(first_id, id_step);
  return Start(total_keys, &sequential_);
}

int16_t PageWriter::Start(uint64_t total_keys, PageIdSource* ids) {
  if (total_keys == 0 || shape_.leaf_keys == 0 || shape_.interior_keys < 2 ||
      shape_.page_size == 0 || shape_.write_pages == 0 || ids == nullptr)
    return Fail(kKbdErrCommand);
  levels_.clear();
  total_ = total_keys;
  added_ = 0;
  ids_ = ids;
  root_ = 0;
  pages_written_ = 0;
  out_ids_.clear();
  if (shape_.keys_in_interior) return PlanPromoting(total_keys);
  // Plan each level from the number of children it receives (W2, W3).
  uint64_t children = total_keys;
  bool leaf = true;
  const uint32_t interior_full =
      shape_.interior_keys + (shape_.trailing_pointer ? 1 : 0);
  const uint32_t interior_min = shape_.trailing_pointer ? 2 : 1;
  while (leaf || children > 1) {
    Level level;
    level.full = leaf ? shape_.leaf_keys : interior_full;
    level.pages = (children + level.full - 1) / level.full;
    level.last =
        static_cast<uint32_t>(children - (level.pages - 1) * level.full);
    level.before_last = level.full;
    if (!leaf && level.pages >= 2 && level.last < interior_min) {
      level.before_last -= interior_min - level.last;
      level.last = interior_min;
    }
    level.page.reset(new (std::nothrow) uint8_t[shape_.page_size]());
    if (level.page == nullptr) return Fail(kKbdErrNoMemory);
    levels_.push_back(std::move(level));
    children = levels_.back().pages;
    leaf = false;
  }
  out_.assign(static_cast<size_t>(shape_.write_pages) * shape_.page_size, 0);
  return kKbdOk;
}

// B-tree shape: a level receiving n entries fills pages of `full` entries,
// each followed by one entry that goes up, and keeps the rest for its
// last page; n / (full + 1) entries reach the level above (W6).
int16_t PageWriter::PlanPromoting(uint64_t total_keys) {
  const uint32_t full = shape_.leaf_keys;
  if (shape_.min_keys == 0 || shape_.min_keys > full / 2)
    return Fail(kKbdErrCommand);
  uint64_t entries = total_keys;
  for (;;) {
    Level level;
    level.full = full;
    const uint64_t promoted = entries / (full + 1);
    level.pages = promoted + 1;
    level.last = static_cast<uint32_t>(entries % (full + 1));
    level.before_last = full;
    if (promoted > 0 && level.last < shape_.min_keys) {
      // The last two pages share their entries evenly.
      const uint32_t both = full + level.last;
      level.before_last = both / 2;
      level.last = both - level.before_last;
    }
    level.page.reset(new (std::nothrow) uint8_t[shape_.page_size]());
    if (level.page == nullptr) return Fail(kKbdErrNoMemory);
    levels_.push_back(std::move(level));
    if (promoted == 0) break;
    entries = promoted;
  }
  out_.assign(static_cast<size_t>(shape_.write_pages) * shape_.page_size, 0);
  return kKbdOk;
}

uint32_t PageWriter::Planned(const Level& level) const {
  if (level.page_index + 1 == level.pages) return level.last;
  if (level.page_index + 2 == level.pages) return level.before_last;
  return level.full;
}

int16_t PageWriter::Add(const uint8_t* key, uint32_t recno) {
  if (int16_t e = StickyError()) return e;
  if (added_ >= total_) return Fail(kKbdErrCommand);
  ++added_;
  if (shape_.keys_in_interior) return Promote(0, key, recno, 0);
  return Push(0, key, recno);
}

// B-tree shape: the entry joins the open page of its level while that
// page is below its planned size; otherwise the page is finished with the
// entry's child as its rightmost child and the entry goes up.
int16_t PageWriter::Promote(size_t index, const uint8_t* key, uint32_t recno,
                            uint32_t child) {
  Level& level = levels_[index];
  uint8_t* page = level.page.get();
  if (level.children < Planned(level)) {
    encoder_->PutItem(page, level.children++, key, recno, child);
    return kKbdOk;
  }
  if (index + 1 == levels_.size()) return Fail(kKbdErrCommand);  // unplanned
  encoder_->FinishPage(page, index == 0, level.children, child);
  uint32_t id = 0;
  if (int16_t e = Emit(page, &id)) return e;
  std::memset(page, 0, shape_.page_size);
  level.children = 0;
  ++level.page_index;
  return Promote(index + 1, key, recno, id);
}

// B-tree shape: the open pages from the leaves up, each the rightmost
// child of the one above; the top one is the root.
int16_t PageWriter::FinishPromoting() {
  uint32_t below = 0;
  for (size_t index = 0; index < levels_.size(); ++index) {
    Level& level = levels_[index];
    if (level.children != Planned(level)) return Fail(kKbdErrCommand);
    encoder_->FinishPage(level.page.get(), index == 0, level.children, below);
    if (int16_t e = Emit(level.page.get(), &below)) return e;
  }
  root_ = below;
  return kKbdOk;
}

// Adds a child (a key with its record number at level 0) to the open page
// of a level; a page that reaches its planned size is finished, written,
// and its greatest key pushed up (W4).
int16_t PageWriter::Push(size_t index, const uint8_t* key, uint32_t pointer) {
  Level& level = levels_[index];
  const bool leaf = index == 0;
  uint8_t* page = level.page.get();
  const uint32_t planned = Planned(level);
  const uint32_t slot = level.children++;
  const bool last_child = level.children == planned;
  if (leaf || !shape_.trailing_pointer || !last_child)
    encoder_->PutEntry(page, leaf, slot, key, pointer);
  if (!last_child) return kKbdOk;
  if (leaf || !shape_.trailing_pointer)
    encoder_->FinishPage(page, leaf, level.children, 0);
  else
    encoder_->FinishPage(page, leaf, level.children - 1, pointer);
  if (shape_.sibling_links)
    encoder_->SetSiblings(page, leaf, level.previous, kNoSibling);
  uint32_t id = 0;
  if (int16_t e = Emit(page, &id)) return e;
  if (shape_.sibling_links) {
    if (int16_t e = LinkPrevious(&level, leaf, id)) return e;
  }
  std::memset(page, 0, shape_.page_size);
  level.children = 0;
  ++level.page_index;
  if (index + 1 == levels_.size()) {
    root_ = id;
    return kKbdOk;
  }
  // key may already be separator_ (a separator passed up again).
  std::memmove(separator_.data(), key, shape_.key_length);
  return Push(index + 1, separator_.data(), id);
}

int16_t PageWriter::Emit(uint8_t* page, uint32_t* id) {
  if (int16_t e = ids_->NextId(id)) return e;
  const uint64_t offset = static_cast<uint64_t>(*id) * shape_.id_unit;
  if (offset + shape_.page_size > kMaxFileEnd) return Fail(kKbdErrSeek);
  // A page that does not follow the buffered run in the file starts a
  // new run.
  if (!out_ids_.empty() &&
      static_cast<uint64_t>(out_ids_.back()) * shape_.id_unit +
              shape_.page_size !=
          offset) {
    if (int16_t e = Flush()) return e;
  }
  std::memcpy(out_.data() + out_ids_.size() * shape_.page_size, page,
              shape_.page_size);
  out_ids_.push_back(*id);
  ++pages_written_;
  if (out_ids_.size() == shape_.write_pages) return Flush();
  return kKbdOk;
}

// Gives the page finished before this one at the level its right
// neighbour (W5), in the write buffer when it is still there.
int16_t PageWriter::LinkPrevious(Level* level, bool leaf, uint32_t id) {
  const uint32_t previous = level->previous;
  const uint32_t previous_left = level->previous_left;
  level->previous_left = previous;
  level->previous = id;
  if (previous == kNoSibling) return kKbdOk;
  for (size_t index = out_ids_.size(); index-- > 0;) {
    if (out_ids_[index] != previous) continue;
    encoder_->SetSiblings(out_.data() + index * shape_.page_size, leaf,
                          previous_left, id);
    return kKbdOk;
  }
  std::vector<uint8_t> page(shape_.page_size);
  const uint32_t offset = previous * shape_.id_unit;
  if (int16_t e = FileReadAt(file_slot_, offset, page.data(), shape_.page_size))
    return e;
  encoder_->SetSiblings(page.data(), leaf, previous_left, id);
  return FileWriteAt(file_slot_, offset, page.data(), shape_.page_size);
}

int16_t PageWriter::Flush() {
  if (out_ids_.empty()) return kKbdOk;
  const uint32_t bytes =
      static_cast<uint32_t>(out_ids_.size()) * shape_.page_size;
  const uint32_t offset = out_ids_.front() * shape_.id_unit;
  out_ids_.clear();
  return FileWriteAt(file_slot_, offset, out_.data(), bytes);
}

int16_t PageWriter::Finish(uint32_t* root, uint32_t* next_id) {
  if (int16_t e = StickyError()) return e;
  if (added_ == total_ && shape_.keys_in_interior && root_ == 0) {
    if (int16_t e = FinishPromoting()) return e;
  }
  if (added_ != total_ || root_ == 0) return Fail(kKbdErrCommand);
  if (int16_t e = Flush()) return e;
  *root = root_;
  if (next_id != nullptr)
    *next_id = ids_ == &sequential_ ? sequential_.next() : 0;
  return kKbdOk;
}

}  // namespace qx::engine::btree
