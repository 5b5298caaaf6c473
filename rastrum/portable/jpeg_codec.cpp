// JPEG decoding and encoding on libjpeg-turbo's libjpeg interface.
//
// libjpeg reports a failure by calling error_exit, which must not return.
// Ours jumps back (longjmp) to the entry point that started the work, where
// jpeg_destroy_* frees everything libjpeg allocated. The code between the
// setjmp and any jump therefore holds no object with a destructor: the
// C++ objects an operation needs (the source rows, the output vector) live
// in the caller's frame, and libjpeg's own memory comes from its pools.
//
// libjpeg-turbo only warns when data is missing or garbled (a truncated
// file is padded with grey), so the warnings that mean the picture is not
// the file's picture end the decode as corrupt data too.
#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "base/portable/dib_format.h"
#include "base/portable/work_pool.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/cmyk_profile.h"
#include "rastrum/portable/codecs.h"

namespace rastrum {

namespace {

namespace dib = qb::dib;

// Rows handed to libjpeg per call: enough for a whole iMCU row at the
// largest sampling factor, so that libjpeg writes straight into the rows.
constexpr JDIMENSION kRowsPerCall = 16;

// A progressive file can declare any number of scans, each a pass over the
// blocks of its components; past this many the file is treated as hostile.
constexpr int kMaxScans = 1000;

// The scans of a file may visit the picture's blocks this many times over
// on average (the usual progressive scripts take five or six passes): past
// that the file is treated as hostile, so that a few bytes a scan cannot
// keep the decoder busy for long.
constexpr uint64_t kMaxScanPasses = 12;

// Every block costs at least one bit of entropy-coded data (a Huffman-coded
// DC difference; arithmetic coding is held to the same): a file with less
// data than that for its blocks cannot hold its picture.
constexpr uint64_t kBlocksPerDataByte = 8;

struct ErrorManager {
  jpeg_error_mgr pub;  // first member: libjpeg sees only this part
  std::jmp_buf jump;
  volatile int failure;
};

// The progress monitor with what it counts: the blocks the scans read so
// far, against the budget the picture's size gives.
struct ScanBudget {
  jpeg_progress_mgr pub;  // first member: libjpeg sees only this part
  int scan;               // the scan whose blocks are counted
  uint64_t blocks;
  uint64_t limit;
};

// The bytes of entropy-coded data of a file (restart markers and stuffed
// zeros counted), found by a walk over its markers.
uint64_t EntropyDataBytes(std::span<const uint8_t> file) {
  uint64_t found = 0;
  const uint8_t* p = file.data();
  const size_t size = file.size();
  size_t pos = 2;  // after SOI
  while (pos + 4 <= size) {
    if (p[pos] != 0xFF) {
      ++pos;  // stray bytes between segments: libjpeg skips them too
      continue;
    }
    const uint8_t marker = p[pos + 1];
    if (marker == 0xFF || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      pos += marker == 0xFF ? 1 : 2;
      continue;
    }
    if (marker == 0xD9) break;  // EOI
    const size_t length = size_t{p[pos + 2]} << 8 | p[pos + 3];
    pos += 2 + length;
    if (marker != 0xDA) continue;
    // Entropy-coded data runs to the next marker other than a restart
    // marker or a stuffed zero.
    const size_t start = pos;
    while (pos + 1 < size && !(p[pos] == 0xFF && p[pos + 1] != 0x00 && (p[pos + 1] < 0xD0 || p[pos + 1] > 0xD7)))
      ++pos;
    if (pos + 1 >= size) pos = size;
    if (pos > start) found += pos - start;
  }
  return found;
}

[[noreturn]] void Fail(j_common_ptr cinfo, int failure) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  err->failure = failure;
  std::longjmp(err->jump, 1);
}

void ErrorExit(j_common_ptr cinfo) {
  switch (cinfo->err->msg_code) {
    case JERR_OUT_OF_MEMORY: Fail(cinfo, kOutOfMemory);
    case JERR_IMAGE_TOO_BIG:  // a side past libjpeg's 65500 pixels
    case JERR_WIDTH_OVERFLOW: Fail(cinfo, kTooLarge);
    default: Fail(cinfo, kCorruptData);
  }
}

// Warnings (level -1) that mean pixels were made up; the rest (extraneous
// bytes between markers, unknown JFIF or Adobe versions, odd progression
// parameters) leave the picture intact. Trace messages are dropped.
void EmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:    // the data ends before the picture does
    case JWRN_HIT_MARKER:  // a scan's data ends early
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:  // a restart marker is missing: rows are lost
      Fail(cinfo, kCorruptData);
    default: ++cinfo->err->num_warnings;
  }
}

void OutputMessage(j_common_ptr) {}

jpeg_error_mgr* SetUpErrors(ErrorManager& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.emit_message = EmitMessage;
  err.pub.output_message = OutputMessage;
  err.failure = kCorruptData;
  return &err.pub;
}

// Called while libjpeg reads the scans of a multi-scan file, once per row
// of blocks: adds each new scan's blocks to the budget.
void LimitScans(j_common_ptr common) {
  if (!common->is_decompressor) return;
  auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
  auto* budget = reinterpret_cast<ScanBudget*>(cinfo->progress);
  if (cinfo->input_scan_number > kMaxScans) Fail(common, kCorruptData);
  if (cinfo->input_scan_number == budget->scan) return;
  budget->scan = cinfo->input_scan_number;
  for (int i = 0; i < cinfo->comps_in_scan; ++i) {
    const jpeg_component_info* c = cinfo->cur_comp_info[i];
    budget->blocks += uint64_t{c->width_in_blocks} * c->height_in_blocks;
  }
  if (budget->blocks > budget->limit) Fail(common, kCorruptData);
}

// JFIF density in pixels per metre: per inch (unit 1) rounded to the
// nearest integer (10000 d / 254 is never exactly half-way), per cm
// (unit 2) times 100, and nothing for a bare aspect ratio (unit 0).
int32_t PelsPerMeter(UINT8 unit, UINT16 density) {
  switch (unit) {
    case 1: return static_cast<int32_t>((density * 10000 + 127) / 254);
    case 2: return static_cast<int32_t>(density) * 100;
    default: return 0;
  }
}

// Pixels per metre as dots per inch for a JFIF header, rounded; 0 when the
// value has no meaning as a density.
UINT16 DotsPerInch(int32_t pelsPerMeter) {
  if (pelsPerMeter <= 0) return 0;
  const int64_t dpi = (static_cast<int64_t>(pelsPerMeter) * 254 + 5000) / 10000;
  return static_cast<UINT16>(std::min<int64_t>(dpi, 65535));
}

// One 8-bit product of two 8-bit factors, rounded.
inline uint8_t Scale255(unsigned a, unsigned b) {
  const unsigned p = a * b + 128;
  return static_cast<uint8_t>((p + (p >> 8)) >> 8);
}

// CMYK from libjpeg (YCCK already turned into CMYK) to blue, green, red,
// where Little CMS made no transform: the plain formula. Adobe's
// applications store the inks inverted (255 = no ink), and mark their files
// with an APP14 segment; other writers store them plainly.
void CmykRowToBgr(const JSAMPLE* cmyk, uint8_t* bgr, JDIMENSION width, bool inverted) {
  for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
    unsigned c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    bgr[0] = Scale255(y, k);
    bgr[1] = Scale255(m, k);
    bgr[2] = Scale255(c, k);
  }
}

// Everything one decode shares with its error path. No member has a
// destructor.
struct Decompressor {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  ScanBudget progress;
  uint8_t* volatile block;  // the block once allocated, to spoil on failure
  CmykTransform volatile transform;  // a CMYK file's profile, closed after the jumps
};

// The decode proper; any libjpeg failure jumps out of it to DecodeJpeg.
int DecodeInto(Decompressor& d, std::span<const uint8_t> file, BlockAllocator& out) {
  j_decompress_ptr cinfo = &d.cinfo;
  d.progress.pub.progress_monitor = LimitScans;
  d.progress.scan = 0;
  d.progress.blocks = 0;
  d.progress.limit = 0;
  cinfo->progress = &d.progress.pub;
  jpeg_mem_src(cinfo, file.data(), static_cast<unsigned long>(file.size()));
  // APP2 segments carry an ICC profile, which a CMYK picture is read through.
  jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(cinfo, TRUE);

  // The blocks of the picture, and those of the coefficient buffer that a
  // progressive or multi-scan file is read into (each component's padded
  // to whole MCUs), 128 bytes a block.
  uint64_t blocks = 0, bufferBlocks = 0;
  for (int i = 0; i < cinfo->num_components; ++i) {
    const jpeg_component_info& c = cinfo->comp_info[i];
    blocks += uint64_t{c.width_in_blocks} * c.height_in_blocks;
    const uint64_t across = (c.width_in_blocks + c.h_samp_factor - 1) / c.h_samp_factor * c.h_samp_factor;
    const uint64_t down = (c.height_in_blocks + c.v_samp_factor - 1) / c.v_samp_factor * c.v_samp_factor;
    bufferBlocks += across * down;
  }
  const bool buffered = cinfo->progressive_mode || cinfo->comps_in_scan < cinfo->num_components;

  const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
  if (cinfo->image_width > static_cast<JDIMENSION>(std::numeric_limits<int32_t>::max()) ||
      cinfo->image_height > static_cast<JDIMENSION>(std::numeric_limits<int32_t>::max()))
    return kTooLarge;
  const auto width = static_cast<int32_t>(cinfo->image_width);
  const auto height = static_cast<int32_t>(cinfo->image_height);
  // The peak: the block, beside the coefficient buffer or a few rows.
  const uint64_t working = buffered ? bufferBlocks * 128 : uint64_t{cinfo->image_width} * 3 * 2 * 16;
  if (CheckDecodePeak(width, height, 0, working) != kOk) return kTooLarge;
  // Everything is allocated before the data is read: the data must be
  // able to stand for every block.
  if (blocks > kBlocksPerDataByte * EntropyDataBytes(file)) return kCorruptData;
  d.progress.limit = kMaxScanPasses * blocks;
  const int32_t xPelsPerMeter = PelsPerMeter(cinfo->density_unit, cinfo->X_density);
  const int32_t yPelsPerMeter = PelsPerMeter(cinfo->density_unit, cinfo->Y_density);

  // A progressive file is read whole here, before the block is allocated:
  // a file cut short fails without costing the picture's memory.
  jpeg_start_decompress(cinfo);
  if (cinfo->output_width != cinfo->image_width || cinfo->output_height != cinfo->image_height)
    return kCorruptData;

  NewBlock block;
  if (const int made = MakeBlock24(out, width, height, xPelsPerMeter, yPelsPerMeter, block);
      made != kOk)
    return made;
  d.block = block.block;

  JSAMPROW rows[kRowsPerCall];
  if (!cmyk) {
    // Top scanline first into Row(0): the rows of the bottom-up block.
    while (cinfo->output_scanline < cinfo->output_height) {
      const JDIMENSION first = cinfo->output_scanline;
      const JDIMENSION count = std::min(kRowsPerCall, cinfo->output_height - first);
      for (JDIMENSION i = 0; i < count; ++i)
        rows[i] = block.pixels.Row(static_cast<int32_t>(first + i));
      if (jpeg_read_scanlines(cinfo, rows, count) == 0) return kCorruptData;
    }
  } else {
    const bool inverted = cinfo->saw_Adobe_marker;
    JOCTET* icc = nullptr;
    unsigned int iccBytes = 0;
    if (jpeg_read_icc_profile(cinfo, &icc, &iccBytes)) {
      d.transform = OpenCmykTransform(std::span<const uint8_t>(icc, iccBytes), inverted);
      std::free(icc);
    }
    // No CMYK profile of its own: the inks of a standard press.
    if (!d.transform) d.transform = OpenPressTransform(inverted);
    JSAMPARRAY buffer = (*cinfo->mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, cinfo->output_width * 4, kRowsPerCall);
    while (cinfo->output_scanline < cinfo->output_height) {
      const JDIMENSION first = cinfo->output_scanline;
      const JDIMENSION got = jpeg_read_scanlines(cinfo, buffer, kRowsPerCall);
      if (got == 0) return kCorruptData;
      for (JDIMENSION i = 0; i < got; ++i) {
        uint8_t* row = block.pixels.Row(static_cast<int32_t>(first + i));
        if (d.transform) CmykRowThroughProfile(d.transform, buffer[i], row, cinfo->output_width);
        else CmykRowToBgr(buffer[i], row, cinfo->output_width, inverted);
      }
    }
  }
  jpeg_finish_decompress(cinfo);
  return kOk;
}

// Where the encoder's bytes go: the caller's vector, grown as libjpeg asks.
struct VectorDestination {
  jpeg_destination_mgr pub;  // first member: libjpeg sees only this part
  std::vector<uint8_t>* file;
  size_t initialBytes;
};

void GrowDestination(j_compress_ptr cinfo, size_t newSize) {
  auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
  const size_t used = dest->file->size();
  bool grown = true;
  try {
    dest->file->resize(newSize);
  } catch (const std::bad_alloc&) {
    grown = false;
  } catch (const std::length_error&) {
    grown = false;
  }
  // The jump happens outside the handlers, with no exception in flight.
  if (!grown) Fail(reinterpret_cast<j_common_ptr>(cinfo), kOutOfMemory);
  dest->pub.next_output_byte = dest->file->data() + used;
  dest->pub.free_in_buffer = newSize - used;
}

void InitDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
  GrowDestination(cinfo, dest->file->size() + dest->initialBytes);
}

// Called when the whole buffer handed out so far is full.
boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
  const size_t size = dest->file->size();
  if (size > dest->file->max_size() / 2) Fail(reinterpret_cast<j_common_ptr>(cinfo), kOutOfMemory);
  GrowDestination(cinfo, size * 2);
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
  dest->file->resize(dest->file->size() - dest->pub.free_in_buffer);
}

// Everything one encode shares with its error path. No member has a
// destructor.
struct Compressor {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  VectorDestination dest;
};

// Encodes rows [firstRow, firstRow + rows) of the picture as a whole file,
// with a restart marker every restartInterval MCUs when that is not 0.
int EncodeFrom(Compressor& c, const dib::ConstImageView& pixels, int32_t firstRow, int32_t rows,
               int32_t xPelsPerMeter, int32_t yPelsPerMeter, int quality, unsigned restartInterval) {
  j_compress_ptr cinfo = &c.cinfo;
  c.dest.pub.init_destination = InitDestination;
  c.dest.pub.empty_output_buffer = EmptyOutputBuffer;
  c.dest.pub.term_destination = TermDestination;
  cinfo->dest = &c.dest.pub;

  cinfo->image_width = static_cast<JDIMENSION>(pixels.width());
  cinfo->image_height = static_cast<JDIMENSION>(rows);
  cinfo->input_components = 3;
  cinfo->in_color_space = JCS_EXT_BGR;  // before the defaults, which follow it
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, quality, TRUE);
  const UINT16 xDpi = DotsPerInch(xPelsPerMeter);
  const UINT16 yDpi = DotsPerInch(yPelsPerMeter);
  if (xDpi && yDpi) {
    cinfo->density_unit = 1;
    cinfo->X_density = xDpi;
    cinfo->Y_density = yDpi;
  }
  cinfo->restart_interval = restartInterval;
  jpeg_start_compress(cinfo, TRUE);

  // libjpeg takes non-const rows but only reads them.
  JSAMPROW batch[kRowsPerCall];
  while (cinfo->next_scanline < cinfo->image_height) {
    const JDIMENSION first = cinfo->next_scanline;
    const JDIMENSION count = std::min(kRowsPerCall, cinfo->image_height - first);
    for (JDIMENSION i = 0; i < count; ++i)
      batch[i] = const_cast<JSAMPROW>(pixels.Row(firstRow + static_cast<int32_t>(first + i)));
    if (jpeg_write_scanlines(cinfo, batch, count) == 0) return kCorruptData;
  }
  jpeg_finish_compress(cinfo);
  return kOk;
}

// Encoding a large picture on several threads: the picture is cut into
// bands of whole MCU rows, each band is encoded as a file of its own with
// the same tables (the standard Huffman tables, so that every band codes
// alike), and one restart interval is exactly one band. Joined, the bands'
// data make one file whose restart markers fall at the band edges: its
// coefficients, and so its decoded pixels, are those of a single-threaded
// encode, and it is larger by a few bytes a band.
constexpr int32_t kMcuRows = 16;       // rows of an MCU at the default 2x2 luma sampling
constexpr int32_t kMcuColumns = 16;
constexpr int64_t kMaxRestartInterval = 65535;  // MCUs: the DRI field is 16 bits

struct BandPlan {
  int32_t bands = 1;
  int32_t bandRows = 0;
  unsigned restartInterval = 0;
};

BandPlan PlanBands(int32_t width, int32_t height) {
  BandPlan plan;
  plan.bandRows = height;
  const int threads = qb::work::ThreadCount();
  if (threads <= 1 || int64_t{width} * height < qb::work::kParallelPixels) return plan;
  const int64_t mcuRows = (int64_t{height} + kMcuRows - 1) / kMcuRows;
  const int64_t mcusPerRow = (int64_t{width} + kMcuColumns - 1) / kMcuColumns;
  if (mcusPerRow > kMaxRestartInterval || mcuRows < 2) return plan;
  int64_t bandMcuRows = (mcuRows + threads - 1) / threads;
  bandMcuRows = std::min(bandMcuRows, kMaxRestartInterval / mcusPerRow);
  plan.bands = static_cast<int32_t>((mcuRows + bandMcuRows - 1) / bandMcuRows);
  plan.bandRows = static_cast<int32_t>(bandMcuRows * kMcuRows);
  plan.restartInterval = static_cast<unsigned>(bandMcuRows * mcusPerRow);
  return plan;
}

// Encodes rows [firstRow, firstRow + rows) of the source as a whole file.
int EncodeBand(const Source24& source, int32_t firstRow, int32_t rows, int quality, unsigned restartInterval,
               std::vector<uint8_t>& file) {
  Compressor c;
  c.cinfo.err = SetUpErrors(c.err);
  c.dest.file = &file;
  // About what quality 90 makes of a photograph, so that growing is rare.
  c.dest.initialBytes =
      std::max<size_t>(size_t{1} << 16, static_cast<size_t>(source.width()) * static_cast<size_t>(rows) / 2);
  int result;
  if (setjmp(c.err.jump)) {
    result = c.err.failure;
  } else {
    jpeg_create_compress(&c.cinfo);
    result = EncodeFrom(c, source.pixels(), firstRow, rows, source.xPelsPerMeter(), source.yPelsPerMeter(),
                        quality, restartInterval);
  }
  jpeg_destroy_compress(&c.cinfo);
  return result;
}

// Where a band file's entropy-coded data begin (after its SOS segment),
// and, for the first band, where its frame header's height lies. Our own
// encoder wrote the file, so its segments are well formed; a surprise is
// still a failure rather than a bad file.
bool FindScan(const std::vector<uint8_t>& f, size_t& data, size_t& heightAt) {
  heightAt = 0;
  size_t p = 2;
  while (p + 4 <= f.size() && f[p] == 0xFF) {
    const uint8_t marker = f[p + 1];
    const size_t length = (size_t{f[p + 2]} << 8) | f[p + 3];
    if (marker >= 0xC0 && marker <= 0xC2) heightAt = p + 5;
    if (marker == 0xDA) {
      data = p + 2 + length;
      return data <= f.size() && heightAt != 0;
    }
    p += 2 + length;
  }
  return false;
}

int JoinBands(const std::vector<std::vector<uint8_t>>& bands, int32_t height, std::vector<uint8_t>& file) {
  size_t total = 0;
  for (const auto& b : bands) {
    if (b.size() < 4 || b[b.size() - 2] != 0xFF || b[b.size() - 1] != 0xD9) return kCorruptData;
    total += b.size();
  }
  file.reserve(file.size() + total);
  const size_t start = file.size();
  for (size_t i = 0; i < bands.size(); ++i) {
    size_t data = 0, heightAt = 0;
    if (!FindScan(bands[i], data, heightAt)) return kCorruptData;
    if (i == 0) {
      file.insert(file.end(), bands[0].begin(), bands[0].end() - 2);
      file[start + heightAt] = static_cast<uint8_t>(height >> 8);
      file[start + heightAt + 1] = static_cast<uint8_t>(height);
    } else {
      file.push_back(0xFF);
      file.push_back(static_cast<uint8_t>(0xD0 + ((i - 1) & 7)));
      file.insert(file.end(), bands[i].begin() + static_cast<std::ptrdiff_t>(data), bands[i].end() - 2);
    }
  }
  file.push_back(0xFF);
  file.push_back(0xD9);
  return kOk;
}

}  // namespace

int DecodeJpeg(std::span<const uint8_t> file, BlockAllocator& out) {
  if (file.empty()) return kCorruptData;
  if (file.size() > std::numeric_limits<unsigned long>::max()) return kTooLarge;
  Decompressor d;
  d.block = nullptr;
  d.transform = nullptr;
  d.cinfo.err = SetUpErrors(d.err);
  int result;
  if (setjmp(d.err.jump)) {
    result = d.err.failure;
  } else {
    jpeg_create_decompress(&d.cinfo);
    result = DecodeInto(d, file, out);
  }
  jpeg_destroy_decompress(&d.cinfo);
  CloseCmykTransform(d.transform);
  // A block that did not get its whole picture must not pass for one.
  if (result != kOk && d.block) std::fill_n(d.block, dib::kInfoHeaderSize, uint8_t{0});
  return result;
}

int EncodeJpeg(std::span<const uint8_t> block, int quality, std::vector<uint8_t>& file) {
  if (quality < 1 || quality > 100) return kBadArgument;
  Source24 source;
  if (const int opened = source.Open(block); opened != kOk) return opened;
  const size_t start = file.size();
  const dib::ConstImageView& pixels = source.pixels();
  const BandPlan plan = PlanBands(pixels.width(), pixels.height());
  int result = kOk;
  if (plan.bands <= 1) {
    result = EncodeBand(source, 0, pixels.height(), quality, 0, file);
  } else {
    // Each band is encoded as a file of its own on the workers, then the
    // bands' entropy-coded data are joined behind the first band's headers.
    std::vector<std::vector<uint8_t>> bands(static_cast<size_t>(plan.bands));
    std::vector<int> results(bands.size(), kOk);
    qb::work::ForEachRange(plan.bands, 1, [&](int64_t begin, int64_t end) {
      for (int64_t b = begin; b < end; ++b) {
        const int32_t first = static_cast<int32_t>(b) * plan.bandRows;
        const int32_t rows = std::min(plan.bandRows, pixels.height() - first);
        results[static_cast<size_t>(b)] =
            EncodeBand(source, first, rows, quality, plan.restartInterval, bands[static_cast<size_t>(b)]);
      }
    });
    for (int r : results)
      if (r != kOk && result == kOk) result = r;
    if (result == kOk) result = JoinBands(bands, pixels.height(), file);
  }
  if (result != kOk) file.resize(start);
  return result;
}

}  // namespace rastrum
