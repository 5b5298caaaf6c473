// The card reader: the trailer, the record list and the unpack of a whole
// card, its records written to memory.
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "output/portable/card_format.h"

namespace {

class MemorySink final : public qb::card::RecordSink {
 public:
  qb::card::CardStream* Create(const qb::card::RecordHeader& record, std::uint32_t, bool&) override {
    QB_FUZZ_CHECK(qb::card::IsSafeName(record.name));
    m_files.push_back(std::make_unique<qb::card::MemoryCardStream>());
    return m_files.back().get();
  }
  void Done(std::uint32_t, bool) override {}

 private:
  std::vector<std::unique_ptr<qb::card::MemoryCardStream>> m_files;
};

}  // namespace

QB_FUZZ_TARGET(card) {
  qb::card::MemoryCardStream card(std::string(reinterpret_cast<const char*>(data), size));
  std::uint32_t offset = 0;
  // A card without its trailer is also read from its start, as a player
  // that was given the offset would.
  if (!qb::card::FindContainer(card, offset)) offset = 0;
  qb::card::RecordHeader headers[qb::card::kMaxRecords];
  std::uint32_t count = 0;
  qb::card::ListRecords(card, offset, headers, count);
  QB_FUZZ_CHECK(count <= qb::card::kMaxRecords);
  MemorySink sink;
  qb::card::Unpack(card, offset, sink);
  return 0;
}
