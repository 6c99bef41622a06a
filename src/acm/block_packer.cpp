// Block quantizer, bit budget and column coders. (Not written yet.)

#include "acm/block_packer.h"

#include "acm/bit_writer.h"

namespace vellox {

BlockPacker::BlockPacker(std::FILE* output, std::int32_t column_count, std::int32_t row_count,
                         std::int32_t budget)
    : file(output),
      columns(column_count),
      rows(row_count),
      block_size(row_count * column_count),
      bit_budget(budget) {}

BlockPacker::~BlockPacker() = default;

bool BlockPacker::init() { return false; }

void BlockPacker::pack_block(const std::int16_t* /*values*/) {}

bool BlockPacker::finish() { return false; }

std::int64_t BlockPacker::bytes_written() const { return 0; }

int BlockPacker::write_error() const { return 0; }

}  // namespace vellox
