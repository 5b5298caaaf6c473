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
//
// A large picture is decoded and encoded on the workers: a file with
// restart markers at whole MCU rows decodes in bands, any other single-scan
// file with its entropy decoding cut in two (where that is most of the
// work) or on one thread beside the rest on another, and an encode is cut into bands joined at restart markers. Every way gives
// the pixels (and the coefficients) of one thread.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
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

// Four of libjpeg-turbo's internal module interfaces (its jpegint.h), which
// the decode that overlaps entropy decoding with the rest drives and plugs
// its own coefficient controller into. They are those of the 2.x releases.
#if !defined(LIBJPEG_TURBO_VERSION_NUMBER) || LIBJPEG_TURBO_VERSION_NUMBER < 2000000 || \
    LIBJPEG_TURBO_VERSION_NUMBER >= 3000000
#error "the overlapped JPEG decode plugs into libjpeg-turbo 2.x"
#endif
typedef void (*inverse_DCT_method_ptr)(j_decompress_ptr cinfo, jpeg_component_info* compptr, JCOEFPTR coef_block,
                                       JSAMPARRAY output_buf, JDIMENSION output_col);
struct jpeg_d_coef_controller {
  void (*start_input_pass)(j_decompress_ptr cinfo);
  int (*consume_data)(j_decompress_ptr cinfo);
  void (*start_output_pass)(j_decompress_ptr cinfo);
  int (*decompress_data)(j_decompress_ptr cinfo, JSAMPIMAGE output_buf);
  jvirt_barray_ptr* coef_arrays;
};
struct jpeg_inverse_dct {
  void (*start_pass)(j_decompress_ptr cinfo);
  inverse_DCT_method_ptr inverse_DCT[MAX_COMPONENTS];
};
struct jpeg_input_controller {
  int (*consume_input)(j_decompress_ptr cinfo);
  void (*reset_input_controller)(j_decompress_ptr cinfo);
  void (*start_input_pass)(j_decompress_ptr cinfo);
  void (*finish_input_pass)(j_decompress_ptr cinfo);
  boolean has_multiple_scans;
  boolean eoi_reached;
};
struct jpeg_entropy_decoder {
  void (*start_pass)(j_decompress_ptr cinfo);
  boolean (*decode_mcu)(j_decompress_ptr cinfo, JBLOCKROW* MCU_data);
  boolean insufficient_data;
};

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

// Runs `body` on the decompressor of `d` (a struct with `cinfo` and `err`),
// made here and destroyed after: a failure libjpeg reports ends the body
// and is the result.
template <typename D, typename Body>
int Decompressing(D& d, Body&& body) {
  d.cinfo.err = SetUpErrors(d.err);
  int result;
  if (setjmp(d.err.jump)) {
    result = d.err.failure;
  } else {
    jpeg_create_decompress(&d.cinfo);
    result = body();
  }
  jpeg_destroy_decompress(&d.cinfo);
  return result;
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

// The bytes of the coefficient buffer that a progressive or multi-scan file
// is read into: each component's blocks, padded to whole MCUs, 128 bytes a
// block.
uint64_t CoefficientBufferBytes(const jpeg_decompress_struct& cinfo) {
  uint64_t blocks = 0;
  for (int i = 0; i < cinfo.num_components; ++i) {
    const jpeg_component_info& c = cinfo.comp_info[i];
    const uint64_t across = (c.width_in_blocks + c.h_samp_factor - 1) / c.h_samp_factor * c.h_samp_factor;
    const uint64_t down = (c.height_in_blocks + c.v_samp_factor - 1) / c.v_samp_factor * c.v_samp_factor;
    blocks += across * down;
  }
  return blocks * 128;
}

// Reads the decompressor's rows, top scanline first, into Row(0) on: the
// rows of the bottom-up block. kCorruptData when libjpeg gives none.
int ReadScanlinesInto(j_decompress_ptr cinfo, const dib::ImageView& pixels) {
  JSAMPROW rows[kRowsPerCall];
  while (cinfo->output_scanline < cinfo->output_height) {
    const JDIMENSION first = cinfo->output_scanline;
    const JDIMENSION count = std::min(kRowsPerCall, cinfo->output_height - first);
    for (JDIMENSION i = 0; i < count; ++i) rows[i] = pixels.Row(static_cast<int32_t>(first + i));
    if (jpeg_read_scanlines(cinfo, rows, count) == 0) return kCorruptData;
  }
  return kOk;
}

// ---- Decoding in bands at restart markers ----
//
// At a restart marker the entropy decoder starts afresh (DC predictions
// zero, bit buffer empty), so the data from one marker on decode by
// themselves to the MCUs that follow it. A file whose one scan holds every
// component and whose restart intervals are whole MCU rows is therefore
// decoded in bands of whole intervals, each by a decompressor of its own on
// the workers. A band's decompressor reads a stream made of the file's own
// headers, with the frame's height made the band's, and the band's data.
//
// Fancy upsampling of subsampled chroma blends each chroma row with its
// neighbour above or below, and a decompressor repeats its picture's edge
// rows where the file has neighbours. So a band's decompressor also decodes
// the first MCU row of the band below, and the seam between two bands lies
// half an MCU row into the lower band: every row kept comes from a
// decompressor that held both of its neighbours, and the pixels are those
// of one decompressor over the whole file.

// Where a scan's restart intervals lie in the file: interval i's data run
// from Start(i) to ends[i], the restart marker (or the end of the picture)
// that follows them.
struct RestartIntervals {
  size_t dataStart = 0;
  std::vector<size_t> ends;
  size_t Start(size_t i) const { return i == 0 ? dataStart : ends[i - 1] + 2; }
};

// Walks the scan's data for its restart markers. True only for the layout
// the frame promises: exactly `intervals` intervals, markers numbered in
// turn, and the end of the picture right after the data (a file that ends
// otherwise is left to the ordinary decode, which reports it).
bool FindRestartIntervals(std::span<const uint8_t> file, size_t dataStart, size_t intervals,
                          RestartIntervals& found) {
  found.dataStart = dataStart;
  found.ends.clear();
  found.ends.reserve(intervals);
  const uint8_t* p = file.data();
  const size_t size = file.size();
  size_t pos = dataStart;
  while (pos < size) {
    const void* hit = std::memchr(p + pos, 0xFF, size - pos);
    if (!hit) return false;
    pos = static_cast<size_t>(static_cast<const uint8_t*>(hit) - p);
    if (pos + 1 >= size) return false;
    const uint8_t marker = p[pos + 1];
    if (marker == 0x00 || marker == 0xFF) {  // a stuffed zero, or fill before a marker
      pos += marker == 0x00 ? 2 : 1;
      continue;
    }
    const size_t seen = found.ends.size();
    if (marker >= 0xD0 && marker <= 0xD7) {
      if (seen + 1 >= intervals || marker != 0xD0 + (seen & 7)) return false;
      found.ends.push_back(pos);
      pos += 2;
      continue;
    }
    if (marker != 0xD9 || seen + 1 != intervals) return false;
    found.ends.push_back(pos);
    return true;
  }
  return false;
}

// Where the frame header's height lies, by the walk libjpeg makes over the
// markers before the scan (stray bytes and fill skipped, segments by their
// length); 0 when no baseline or extended frame header is found there.
size_t FrameHeightAt(std::span<const uint8_t> file, size_t dataStart) {
  size_t pos = 2;
  while (pos < dataStart && dataStart - pos >= 9) {
    if (file[pos] != 0xFF || file[pos + 1] == 0xFF) {
      ++pos;
      continue;
    }
    const uint8_t marker = file[pos + 1];
    if (marker == 0xC0 || marker == 0xC1) return pos + 5;
    if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      pos += 2;
      continue;
    }
    pos += 2 + (size_t{file[pos + 2]} << 8 | file[pos + 3]);
  }
  return 0;
}

// How a file is cut into bands: the rows of an interval and of an MCU, and
// the intervals each band starts with.
struct DecodeBandPlan {
  int32_t intervalRows = 0;
  int32_t mcuRows = 0;
  std::vector<size_t> firstIntervals;  // one a band, then the interval count
  RestartIntervals intervals;
  size_t heightAt = 0;
  size_t Bands() const { return firstIntervals.empty() ? 0 : firstIntervals.size() - 1; }
};

// Plans the bands of a file whose headers libjpeg has read and whose
// decompression it has started (so the scan's MCU layout is known). False
// when the file is to be decoded the ordinary way: one thread, a small
// picture, a progressive, arithmetic-coded, multi-scan or CMYK file, no
// restart markers or intervals that are not whole MCU rows, and any file
// whose markers do not keep to what its headers say.
bool PlanDecodeBands(const jpeg_decompress_struct& cinfo, std::span<const uint8_t> file, size_t dataStart,
                     DecodeBandPlan& plan) {
  const int threads = qb::work::ThreadCount();
  const int64_t width = cinfo.image_width, height = cinfo.image_height;
  if (threads <= 1 || width * height < qb::work::kParallelPixels) return false;
  if (cinfo.progressive_mode || cinfo.arith_code || cinfo.restart_interval == 0 || cinfo.MCUs_per_row == 0 ||
      cinfo.comps_in_scan != cinfo.num_components || cinfo.num_components == 2 || cinfo.num_components > 3 ||
      cinfo.restart_interval % cinfo.MCUs_per_row != 0)
    return false;
  // An MCU row: the largest vertical sampling's blocks when the scan
  // interleaves components, one block row of a grey picture's one.
  plan.mcuRows = DCTSIZE * (cinfo.comps_in_scan > 1 ? cinfo.max_v_samp_factor : 1);
  const int64_t intervalMcuRows = cinfo.restart_interval / cinfo.MCUs_per_row;
  plan.intervalRows = static_cast<int32_t>(std::min<int64_t>(intervalMcuRows * plan.mcuRows, height));
  const int64_t count = (int64_t{cinfo.MCU_rows_in_scan} + intervalMcuRows - 1) / intervalMcuRows;
  if (count < 2 || int64_t{cinfo.MCU_rows_in_scan} * plan.mcuRows < height) return false;
  plan.heightAt = FrameHeightAt(file, dataStart);
  const uint8_t* f = file.data() + plan.heightAt;
  if (plan.heightAt == 0 || (f[0] << 8 | f[1]) != height || (f[2] << 8 | f[3]) != width) return false;
  if (!FindRestartIntervals(file, dataStart, static_cast<size_t>(count), plan.intervals)) return false;
  // A few bands a thread, so that a thread held up elsewhere does not hold
  // up the picture; each costs one MCU row decoded twice.
  const int64_t bands = std::min<int64_t>(count, int64_t{threads} * 2);
  plan.firstIntervals.clear();
  for (int64_t b = 0; b <= bands; ++b) plan.firstIntervals.push_back(static_cast<size_t>(count * b / bands));
  return true;
}

// The stream one band's decompressor reads, in pieces: the headers up to
// the frame's height, the band's height, the rest of the headers, the
// band's data, and the end of the picture. Its restart markers are
// numbered from the band's first, where the decompressor expects 0.
struct BandSource {
  jpeg_source_mgr pub;  // first member: libjpeg sees only this part
  std::span<const uint8_t> pieces[5];
  int next;
  int firstMarker;
  uint8_t height[2];
};

constexpr uint8_t kEndOfImage[2] = {0xFF, 0xD9};

void InitBandSource(j_decompress_ptr) {}
void TermBandSource(j_decompress_ptr) {}

boolean FillBandSource(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<BandSource*>(cinfo->src);
  while (src->next < 5 && src->pieces[src->next].empty()) ++src->next;
  if (src->next == 5) {
    // Past the end of the picture: as libjpeg's memory source does.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->pub.next_input_byte = kEndOfImage;
    src->pub.bytes_in_buffer = 2;
    return TRUE;
  }
  src->pub.next_input_byte = src->pieces[src->next].data();
  src->pub.bytes_in_buffer = src->pieces[src->next].size();
  ++src->next;
  return TRUE;
}

void SkipBandSource(j_decompress_ptr cinfo, long bytes) {
  while (bytes > 0 && static_cast<size_t>(bytes) > cinfo->src->bytes_in_buffer) {
    bytes -= static_cast<long>(cinfo->src->bytes_in_buffer);
    FillBandSource(cinfo);
  }
  if (bytes > 0) {
    cinfo->src->next_input_byte += bytes;
    cinfo->src->bytes_in_buffer -= static_cast<size_t>(bytes);
  }
}

// Called for every restart marker that is not the one the decompressor
// counts on: the file's own numbering, shifted by the band's first marker,
// is accepted; anything else was already ruled out by the walk, so it is
// corrupt data.
boolean ResyncBandSource(j_decompress_ptr cinfo, int desired) {
  auto* src = reinterpret_cast<BandSource*>(cinfo->src);
  if (cinfo->unread_marker != JPEG_RST0 + ((desired + src->firstMarker) & 7))
    Fail(reinterpret_cast<j_common_ptr>(cinfo), kCorruptData);
  cinfo->unread_marker = 0;
  return TRUE;
}

// Everything one band's decode shares with its error path. No member has a
// destructor.
struct BandDecompressor {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  BandSource src;
};

// One band: its stream's pieces, the picture rows its stream starts at, and
// the rows of the block it writes.
struct Band {
  std::span<const uint8_t> data;
  int firstMarker = 0;
  int32_t firstRow = 0;  // the stream's top row in the picture
  int32_t rows = 0;      // the stream's height
  int32_t writeFrom = 0, writeTo = 0;
};

int DecodeBandInto(BandDecompressor& d, const jpeg_decompress_struct& whole, std::span<const uint8_t> file,
                   const DecodeBandPlan& plan, const Band& band, const dib::ImageView& pixels) {
  j_decompress_ptr cinfo = &d.cinfo;
  BandSource& src = d.src;
  src.pub.init_source = InitBandSource;
  src.pub.fill_input_buffer = FillBandSource;
  src.pub.skip_input_data = SkipBandSource;
  src.pub.resync_to_restart = ResyncBandSource;
  src.pub.term_source = TermBandSource;
  src.pub.next_input_byte = nullptr;
  src.pub.bytes_in_buffer = 0;
  src.height[0] = static_cast<uint8_t>(band.rows >> 8);
  src.height[1] = static_cast<uint8_t>(band.rows);
  src.pieces[0] = file.first(plan.heightAt);
  src.pieces[1] = std::span<const uint8_t>(src.height, 2);
  src.pieces[2] = file.subspan(plan.heightAt + 2, plan.intervals.dataStart - plan.heightAt - 2);
  src.pieces[3] = band.data;
  src.pieces[4] = std::span<const uint8_t>(kEndOfImage, 2);
  src.next = 0;
  src.firstMarker = band.firstMarker;
  cinfo->src = &src.pub;
  jpeg_read_header(cinfo, TRUE);
  // The same headers must read the same way, but for the height.
  bool same = cinfo->image_width == whole.image_width && cinfo->image_height == JDIMENSION(band.rows) &&
              cinfo->num_components == whole.num_components && cinfo->jpeg_color_space == whole.jpeg_color_space &&
              !cinfo->progressive_mode && !cinfo->arith_code && cinfo->comps_in_scan == whole.comps_in_scan &&
              cinfo->restart_interval == whole.restart_interval;
  for (int i = 0; same && i < cinfo->num_components; ++i) {
    const jpeg_component_info &a = cinfo->comp_info[i], &b = whole.comp_info[i];
    same = a.component_id == b.component_id && a.h_samp_factor == b.h_samp_factor &&
           a.v_samp_factor == b.v_samp_factor && a.quant_tbl_no == b.quant_tbl_no;
  }
  if (!same) return kCorruptData;
  cinfo->out_color_space = whole.out_color_space;
  jpeg_start_decompress(cinfo);
  if (cinfo->output_width != whole.output_width || cinfo->output_components != whole.output_components)
    return kCorruptData;
  // Rows of the stream outside the band's own go to a spare buffer.
  JSAMPARRAY spare = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                                 cinfo->output_width * 3, kRowsPerCall);
  JSAMPROW rows[kRowsPerCall];
  const auto last = static_cast<JDIMENSION>(band.writeTo - band.firstRow);
  while (cinfo->output_scanline < last) {
    const JDIMENSION first = cinfo->output_scanline;
    const JDIMENSION count = std::min(kRowsPerCall, cinfo->output_height - first);
    for (JDIMENSION i = 0; i < count; ++i) {
      const int32_t y = band.firstRow + static_cast<int32_t>(first + i);
      rows[i] = y >= band.writeFrom && y < band.writeTo ? pixels.Row(y) : spare[i];
    }
    if (jpeg_read_scanlines(cinfo, rows, count) == 0) return kCorruptData;
  }
  // The rest of the stream is the next band's; it is not read.
  return kOk;
}

int DecodeBand(const jpeg_decompress_struct& whole, std::span<const uint8_t> file, const DecodeBandPlan& plan,
               const Band& band, const dib::ImageView& pixels) {
  BandDecompressor d;
  return Decompressing(d, [&] { return DecodeBandInto(d, whole, file, plan, band, pixels); });
}

// Decodes the picture in the planned bands on the workers, into the rows
// of the block; false when some band failed and the picture is to be
// decoded the ordinary way (which reports the failure, if it is one).
bool DecodeInBands(const jpeg_decompress_struct& whole, std::span<const uint8_t> file, const DecodeBandPlan& plan,
                   const dib::ImageView& pixels) {
  const auto height = static_cast<int32_t>(whole.output_height);
  const size_t count = plan.firstIntervals.back();
  const int32_t seam = plan.mcuRows / 2;
  std::vector<Band> bands(plan.Bands());
  for (size_t b = 0; b < bands.size(); ++b) {
    const size_t first = plan.firstIntervals[b], next = plan.firstIntervals[b + 1];
    Band& band = bands[b];
    band.firstRow = static_cast<int32_t>(std::min<int64_t>(int64_t{plan.intervalRows} * int64_t(first), height));
    const int32_t nextRow =
        next == count ? height : static_cast<int32_t>(std::min<int64_t>(int64_t{plan.intervalRows} * int64_t(next), height));
    // The stream reaches one MCU row into the next band, whose first
    // interval's data it therefore carries too.
    const int32_t streamEnd = next == count ? height : std::min(nextRow + plan.mcuRows, height);
    band.rows = streamEnd - band.firstRow;
    band.writeFrom = b == 0 ? 0 : std::min(band.firstRow + seam, height);
    band.writeTo = next == count ? height : std::min(nextRow + seam, height);
    const size_t lastInterval = std::min(next, count - 1);
    band.data = file.subspan(plan.intervals.Start(first), plan.intervals.ends[lastInterval] - plan.intervals.Start(first));
    band.firstMarker = static_cast<int>(first & 7);
  }
  std::vector<int> results(bands.size(), kOk);
  qb::work::ForEachRange(static_cast<int64_t>(bands.size()), 1, [&](int64_t begin, int64_t end) {
    for (int64_t b = begin; b < end; ++b) {
      const Band& band = bands[static_cast<size_t>(b)];
      if (band.writeFrom < band.writeTo) results[static_cast<size_t>(b)] = DecodeBand(whole, file, plan, band, pixels);
    }
  });
  return std::all_of(results.begin(), results.end(), [](int r) { return r == kOk; });
}


// Decodes the picture in bands when the file allows it; false when it is to
// be decoded the ordinary way. The plan lives in this frame only, so that
// no jump out of the ordinary decode passes over it.
bool TryDecodeInBands(const jpeg_decompress_struct& cinfo, std::span<const uint8_t> file, size_t dataStart,
                      const dib::ImageView& pixels) {
  try {
    DecodeBandPlan plan;
    return PlanDecodeBands(cinfo, file, dataStart, plan) && DecodeInBands(cinfo, file, plan, pixels);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// ---- Decoding without restart markers: the entropy decoding beside the rest ----
//
// A file that cannot be cut into bands can still be decoded on two threads:
// one decompressor decodes the entropy-coded data, an iMCU row of
// coefficients at a time, into a ring of a few rows, while a second one,
// on another thread, does the rest (inverse DCT, upsampling, colour
// conversion) row by row into the block. The reader calls libjpeg's
// entropy decoder MCU by MCU as libjpeg's own coefficient controller does;
// the writer's coefficient controller is ours, and runs libjpeg's inverse
// DCT over the ring's rows as libjpeg does over a multi-scan file's
// buffer. So the pixels are those of one decompressor.

// The ring of coefficient rows between the two sides: for each slot, each
// component's block rows of one iMCU row (whole MCUs wide), and how far
// each side has come.
struct CoefficientRing {
  std::mutex lock;
  std::condition_variable changed;
  JDIMENSION read = 0;     // iMCU rows the reader has put into the ring
  JDIMENSION written = 0;  // iMCU rows the writer is done with
  bool failed = false;     // one side gave up: the other stops too
  bool writing = false;    // the writer has started
  bool readerWaits = false, writerWaits = false;
  JDIMENSION readerNeeds = 0;  // the `written` a waiting reader waits for
  JDIMENSION writerNeeds = 0;  // the `read` a waiting writer waits for
  JDIMENSION slots = 0;
  size_t slotCoefficients = 0;
  size_t offset[MAX_COMPONENTS] = {};     // of a component's rows in a slot
  size_t rowBlocks[MAX_COMPONENTS] = {};  // blocks in one of its rows
  std::vector<JCOEF> coefficients;
  JCOEF* slot0 = nullptr;  // the first slot, aligned for the SIMD inverse DCT

  JBLOCKROW Row(JDIMENSION iMcuRow, int component, int blockRow) {
    const size_t at = (iMcuRow % slots) * slotCoefficients + offset[component] +
                      static_cast<size_t>(blockRow) * rowBlocks[component] * DCTSIZE2;
    return reinterpret_cast<JBLOCKROW>(slot0 + at);
  }
};

// The ring's room at most, and in iMCU rows at most: enough that neither
// side waits on the other's row-to-row jitter.
constexpr size_t kRingBytes = size_t{4} << 20;
constexpr JDIMENSION kRingSlots = 8;

// Lays the ring out for a picture whose decompression has started; false
// when not even two iMCU rows fit in its room.
bool LayOutRing(const jpeg_decompress_struct& cinfo, CoefficientRing& ring) {
  size_t slot = 0;
  for (int ci = 0; ci < cinfo.num_components; ++ci) {
    const jpeg_component_info& c = cinfo.comp_info[ci];
    ring.offset[ci] = slot;
    ring.rowBlocks[ci] = size_t{cinfo.MCUs_per_row} * static_cast<size_t>(c.MCU_width);
    slot += ring.rowBlocks[ci] * static_cast<size_t>(c.v_samp_factor) * DCTSIZE2;
  }
  ring.slotCoefficients = slot;
  const size_t fit = kRingBytes / (slot * sizeof(JCOEF));
  if (fit < 2) return false;
  ring.slots = static_cast<JDIMENSION>(std::min<size_t>(fit, kRingSlots));
  // libjpeg-turbo's SIMD inverse DCT loads a block with aligned moves, as
  // its own buffers are (32 bytes); a block is 128 bytes, so every block
  // of an aligned ring is aligned too.
  constexpr size_t kAlign = 32;
  ring.coefficients.resize(ring.slots * slot + kAlign / sizeof(JCOEF));
  const auto start = reinterpret_cast<uintptr_t>(ring.coefficients.data());
  ring.slot0 = reinterpret_cast<JCOEF*>((start + kAlign - 1) & ~uintptr_t{kAlign - 1});
  return true;
}

void GiveUp(CoefficientRing& ring) {
  {
    std::lock_guard<std::mutex> hold(ring.lock);
    ring.failed = true;
  }
  ring.changed.notify_all();
}

// How long the reader, its ring full, waits for the writer to start. The
// pool runs the second range on a worker at once; the bound only keeps a
// reader from waiting for ever on a writer that would run after it on the
// same thread.
constexpr auto kWriterStart = std::chrono::seconds(1);

// A side that finds nothing to do sleeps until there is a batch of work
// (or the picture's end), and the other side wakes it only then: waking a
// thread is a call into the system (into the Wine server under Wine), too
// dear to pay for every row.
constexpr JDIMENSION kWakeBatch = 4;

// The reader waits until the slot of iMCU row `row` is free; false when
// the writer gave up or did not start in time.
bool WaitForSlot(CoefficientRing& ring, JDIMENSION row) {
  std::unique_lock<std::mutex> hold(ring.lock);
  if (ring.written + ring.slots > row) return !ring.failed;
  if (!ring.changed.wait_for(hold, kWriterStart, [&] { return ring.failed || ring.writing; })) return false;
  // Woken once the writer has freed a batch of slots, at most all but the
  // one the writer is working on: this row's and a few more.
  ring.readerNeeds = row + std::min(kWakeBatch, ring.slots - 1) - ring.slots + 1;
  ring.readerWaits = true;
  ring.changed.wait(hold, [&] { return ring.failed || ring.written >= ring.readerNeeds; });
  ring.readerWaits = false;
  return !ring.failed;
}

// The writer waits until the reader has put iMCU row `row` into the ring;
// false when the reader gave up. The reader always started first (it is
// the first range), so it is running or has ended.
bool WaitForRow(CoefficientRing& ring, JDIMENSION row, JDIMENSION rows) {
  std::unique_lock<std::mutex> hold(ring.lock);
  if (ring.read > row) return !ring.failed;
  // Woken once a batch of rows is in the ring (the ring holds at least
  // that many), or the last row.
  ring.writerNeeds = std::min(row + std::min(kWakeBatch, ring.slots), rows);
  ring.writerWaits = true;
  ring.changed.wait(hold, [&] { return ring.failed || ring.read >= ring.writerNeeds; });
  ring.writerWaits = false;
  return !ring.failed;
}

// Moves one side's count on, and wakes the other when it waits for that.
void Advance(CoefficientRing& ring, bool reader, JDIMENSION to) {
  bool wake;
  {
    std::lock_guard<std::mutex> hold(ring.lock);
    if (reader) {
      ring.read = to;
      wake = ring.writerWaits && ring.read >= ring.writerNeeds;
    } else {
      ring.written = to;
      wake = ring.readerWaits && ring.written >= ring.readerNeeds;
    }
  }
  if (wake) ring.changed.notify_all();
}

void StartWriting(CoefficientRing& ring) {
  {
    std::lock_guard<std::mutex> hold(ring.lock);
    ring.writing = true;
  }
  ring.changed.notify_all();
}

// Everything one side's decode shares with its error path. No member has a
// destructor.
struct RingSide {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  jpeg_d_coef_controller coef;  // the writer's coefficient controller
  CoefficientRing* ring;
};

// The reader: the picture's MCUs decoded into the ring in file order, then
// the markers to the end of the picture read with the checks of an
// ordinary decode.
int ReadIntoRing(RingSide& s, std::span<const uint8_t> file, const jpeg_decompress_struct& whole) {
  j_decompress_ptr cinfo = &s.cinfo;
  CoefficientRing& ring = *s.ring;
  jpeg_mem_src(cinfo, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(cinfo, TRUE);
  cinfo->out_color_space = whole.out_color_space;
  jpeg_start_decompress(cinfo);  // the input side set up for the one scan
  if (cinfo->total_iMCU_rows != whole.total_iMCU_rows || cinfo->MCUs_per_row != whole.MCUs_per_row ||
      cinfo->comps_in_scan != whole.comps_in_scan || cinfo->num_components != whole.num_components)
    return kCorruptData;
  for (int ci = 0; ci < cinfo->num_components; ++ci)
    if (cinfo->comp_info[ci].MCU_width != whole.comp_info[ci].MCU_width ||
        cinfo->comp_info[ci].v_samp_factor != whole.comp_info[ci].v_samp_factor)
      return kCorruptData;
  JBLOCKROW mcu[D_MAX_BLOCKS_IN_MCU];
  for (JDIMENSION row = 0; row < cinfo->total_iMCU_rows; ++row) {
    if (!WaitForSlot(ring, row)) return kNotAvailable;
    std::fill_n(ring.Row(row, 0, 0)[0], ring.slotCoefficients, JCOEF{0});  // the decoder writes only non-zeros
    // MCU rows in this iMCU row: one when the scan interleaves components;
    // a single component's block rows, fewer at the bottom, when not.
    const jpeg_component_info* first = cinfo->cur_comp_info[0];
    const int mcuRows = cinfo->comps_in_scan > 1 ? 1
                        : row + 1 < cinfo->total_iMCU_rows ? first->v_samp_factor
                                                            : first->last_row_height;
    for (int y = 0; y < mcuRows; ++y)
      for (JDIMENSION column = 0; column < cinfo->MCUs_per_row; ++column) {
        int n = 0;
        for (int i = 0; i < cinfo->comps_in_scan; ++i) {
          const jpeg_component_info* c = cinfo->cur_comp_info[i];
          for (int yi = 0; yi < c->MCU_height; ++yi) {
            JBLOCKROW blocks = ring.Row(row, c->component_index, y + yi) + column * static_cast<JDIMENSION>(c->MCU_width);
            for (int xi = 0; xi < c->MCU_width; ++xi) mcu[n++] = blocks + xi;
          }
        }
        if (!(*cinfo->entropy->decode_mcu)(cinfo, mcu)) return kCorruptData;
      }
    cinfo->input_iMCU_row = row + 1;
    Advance(ring, true, row + 1);
  }
  (*cinfo->inputctl->finish_input_pass)(cinfo);
  while (!cinfo->inputctl->eoi_reached)
    if ((*cinfo->inputctl->consume_input)(cinfo) == JPEG_SUSPENDED) return kCorruptData;
  return kOk;
}

// The writer's step that yields one iMCU row of samples: the inverse DCT
// of every block of every component, the last row's dummy block rows and
// the dummy blocks at the right left out, as libjpeg's controller for
// buffered coefficients does; then the ring's slot is free again.
int SamplesFromRing(j_decompress_ptr cinfo, JSAMPIMAGE output) {
  CoefficientRing& ring = *reinterpret_cast<RingSide*>(cinfo)->ring;
  const JDIMENSION row = cinfo->output_iMCU_row;
  if (!WaitForRow(ring, row, cinfo->total_iMCU_rows)) Fail(reinterpret_cast<j_common_ptr>(cinfo), kCorruptData);
  for (int ci = 0; ci < cinfo->num_components; ++ci) {
    jpeg_component_info* c = &cinfo->comp_info[ci];
    int blockRows = c->v_samp_factor;
    if (row == cinfo->total_iMCU_rows - 1) {
      blockRows = static_cast<int>(c->height_in_blocks % static_cast<JDIMENSION>(c->v_samp_factor));
      if (blockRows == 0) blockRows = c->v_samp_factor;
    }
    const inverse_DCT_method_ptr idct = cinfo->idct->inverse_DCT[ci];
    JSAMPARRAY out = output[ci];
    for (int b = 0; b < blockRows; ++b, out += c->DCT_scaled_size) {
      const JBLOCKROW blocks = ring.Row(row, ci, b);
      JDIMENSION column = 0;
      for (JDIMENSION n = 0; n < c->width_in_blocks; ++n, column += static_cast<JDIMENSION>(c->DCT_scaled_size))
        idct(cinfo, c, blocks[n], out, column);
    }
  }
  Advance(ring, false, row + 1);
  return ++cinfo->output_iMCU_row < cinfo->total_iMCU_rows ? JPEG_ROW_COMPLETED : JPEG_SCAN_COMPLETED;
}

int WriteFromRing(RingSide& s, std::span<const uint8_t> file, const jpeg_decompress_struct& whole,
                  const dib::ImageView& pixels) {
  j_decompress_ptr cinfo = &s.cinfo;
  jpeg_mem_src(cinfo, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(cinfo, TRUE);
  cinfo->out_color_space = whole.out_color_space;
  jpeg_start_decompress(cinfo);
  if (cinfo->output_width != whole.output_width || cinfo->output_height != whole.output_height ||
      cinfo->total_iMCU_rows != whole.total_iMCU_rows || cinfo->num_components != whole.num_components)
    return kCorruptData;
  for (int ci = 0; ci < cinfo->num_components; ++ci)
    if (cinfo->comp_info[ci].width_in_blocks > s.ring->rowBlocks[ci] ||
        cinfo->comp_info[ci].v_samp_factor != whole.comp_info[ci].v_samp_factor)
      return kCorruptData;
  // The data are never read here: the samples come from the ring.
  s.coef = *cinfo->coef;
  s.coef.decompress_data = SamplesFromRing;
  cinfo->coef = &s.coef;
  return ReadScanlinesInto(cinfo, pixels);
}

// One side of the decode on its own decompressor; a failure makes the
// other side stop.
int RunRingSide(bool reader, std::span<const uint8_t> file, const jpeg_decompress_struct& whole,
                CoefficientRing& ring, const dib::ImageView& pixels) {
  if (!reader) StartWriting(ring);
  RingSide s;
  s.ring = &ring;
  const int result =
      Decompressing(s, [&] { return reader ? ReadIntoRing(s, file, whole) : WriteFromRing(s, file, whole, pixels); });
  if (result != kOk) GiveUp(ring);
  return result;
}

// Whether a file decodes on two sides: a large single-scan picture, not
// CMYK, on more than one thread.
bool CanPipeline(const jpeg_decompress_struct& whole) {
  const int64_t width = whole.image_width, height = whole.image_height;
  return qb::work::ThreadCount() > 1 && width * height >= qb::work::kParallelPixels && !whole.progressive_mode &&
         whole.comps_in_scan == whole.num_components && (whole.num_components == 1 || whole.num_components == 3);
}

// Decodes a file on two sides as above; false when the file is to be
// decoded the ordinary way, or when either side failed, so that the
// ordinary decode reports it.
bool TryDecodeInPipeline(const jpeg_decompress_struct& whole, std::span<const uint8_t> file,
                         const dib::ImageView& pixels) {
  if (!CanPipeline(whole)) return false;
  try {
    CoefficientRing ring;
    if (!LayOutRing(whole, ring)) return false;
    int results[2] = {kNotAvailable, kNotAvailable};
    qb::work::ForEachRange(2, 1, [&](int64_t begin, int64_t end) {
      // Both sides on one thread (a call from inside another's range)
      // would wait on each other: that is left to the ordinary decode.
      if (end - begin != 1) return;
      results[begin] = RunRingSide(begin == 0, file, whole, ring, pixels);
    });
    return results[0] == kOk && results[1] == kOk;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// ---- Decoding without restart markers: the entropy-coded data cut in two ----
//
// Where entropy decoding is most of the work (a photograph of fine detail
// at a high quality), the two sides above leave the second thread waiting
// for the first. Such a file is decoded instead by two decompressors that
// share the entropy decoding. The top one decodes from the start and does
// the rest of the work on each MCU at once, as libjpeg's own one-pass
// controller does. The bottom one starts at a byte well inside the data,
// where no MCU is known to start, decodes on from there as if one did, and
// keeps its MCUs and the place in the data where each began. Huffman codes
// fall back into step: once one of its MCUs begins where a true one begins,
// every MCU after it is the true one, but for the DC values, which it
// predicted from zero instead of from the true blocks before (each
// component's are off by one constant). The top decoder, at the start of
// each of its MCUs, looks for a kept MCU that began at the same place:
// from the first it finds on, it takes the kept MCUs, their DC values
// corrected, instead of decoding them. If the two never meet, it decodes
// the whole picture alone. Either way the pixels are those of one
// decompressor.

// libjpeg-turbo 2.x's Huffman decoder (its jdhuff.c), the leading members:
// the bits taken from the data and not yet used, and each component's DC
// prediction. The bit buffer has the width of size_t on x86 and x86-64.
struct HuffmanDecoderHead {
  jpeg_entropy_decoder pub;
  struct {
    size_t get_buffer;
    int bits_left;
  } bitstate;
  int last_dc_val[MAX_COMPS_IN_SCAN];
};

const HuffmanDecoderHead& HuffmanHead(const jpeg_decompress_struct& cinfo) {
  return *reinterpret_cast<const HuffmanDecoderHead*>(cinfo.entropy);
}

// The entropy-coded data of a single scan: from the end of its header to
// the end of the picture, which must follow them, with no marker between;
// and where the zero bytes stuffed after each 0xFF lie (from `start`).
struct ScanData {
  size_t start = 0, end = 0;
  std::vector<uint32_t> stuffed;
};

bool FindScanData(std::span<const uint8_t> file, size_t dataStart, ScanData& data) {
  const uint8_t* p = file.data();
  size_t at = dataStart;
  for (;;) {
    const void* ff = at < file.size() ? std::memchr(p + at, 0xFF, file.size() - at) : nullptr;
    if (!ff) return false;
    at = static_cast<size_t>(static_cast<const uint8_t*>(ff) - p);
    if (at + 1 >= file.size() || at - dataStart >= std::numeric_limits<uint32_t>::max()) return false;
    if (p[at + 1] == 0xD9) break;
    if (p[at + 1] != 0x00) return false;
    data.stuffed.push_back(static_cast<uint32_t>(at + 1 - dataStart));
    at += 2;
  }
  data.start = dataStart;
  data.end = at;
  return true;
}

// A decoder's place in the data: the bits of the unstuffed data it has
// used. libjpeg takes a stuffed zero together with the 0xFF before it, so
// a decoder's next byte is never one; and it only moves on.
struct DataClock {
  const ScanData* data;
  const uint8_t* first;  // the data's first byte
  size_t stuffedBefore;  // stuffed zeros before the decoder's next byte

  // False once the decoder holds bits the data do not (made-up zeros).
  bool Bits(const jpeg_decompress_struct& cinfo, uint64_t& bits) {
    const auto taken = static_cast<size_t>(cinfo.src->next_input_byte - first);
    while (stuffedBefore < data->stuffed.size() && data->stuffed[stuffedBefore] < taken) ++stuffedBefore;
    const uint64_t held = 8 * uint64_t{taken - stuffedBefore};
    const auto unused = static_cast<uint64_t>(HuffmanHead(cinfo).bitstate.bits_left);
    if (unused > held || cinfo.entropy->insufficient_data) return false;
    bits = held - unused;
    return true;
  }
};

// The MCUs the bottom decoder keeps, in chunks taken as it goes and given
// back by the top decoder once it has used them; what the two know of each
// other.
constexpr size_t kChunkMcus = 128;
constexpr size_t kKeptBytesAtMost = size_t{64} << 20;

struct SplitShare {
  size_t mcuBlocks = 0;            // blocks in an MCU
  size_t capacity = 0;             // MCUs the bottom decoder may keep
  std::vector<uint64_t> starts;    // where each kept MCU began
  std::vector<uint8_t> warned;     // whether libjpeg warned while decoding it
  std::vector<JBLOCK*> chunks;     // kChunkMcus MCUs each
  std::vector<JBLOCK*> spare;      // chunks given back
  std::vector<std::vector<JCOEF>> owned;
  size_t ownedBytes = 0;
  // Each side's writes on cache lines of their own, and the count of kept
  // MCUs moved on only every kPublishEvery: a line that the other core
  // reads is taken back from it on every write.
  static constexpr size_t kPublishEvery = 32;
  alignas(64) std::atomic<size_t> kept{0};  // MCUs complete
  std::atomic<bool> finished{false}, blocked{false};
  alignas(64) std::atomic<bool> stop{false}, topWaits{false};
  std::atomic<size_t> topNeeds{0};
  std::mutex lock;
  std::condition_variable changed;

  JBLOCK* Mcu(size_t k) { return chunks[k / kChunkMcus] + (k % kChunkMcus) * mcuBlocks; }

  void Notify() {
    { std::lock_guard<std::mutex> hold(lock); }
    changed.notify_all();
  }
  void Stop() {
    stop = true;
    Notify();
  }

  // The bottom decoder: room for MCU k; null when it is to stop.
  JBLOCK* Room(size_t k) {
    if (k % kChunkMcus == 0) {
      const size_t chunkBytes = kChunkMcus * mcuBlocks * sizeof(JBLOCK);
      std::unique_lock<std::mutex> hold(lock);
      if (spare.empty() && ownedBytes + chunkBytes > kKeptBytesAtMost) {
        blocked = true;
        changed.notify_all();  // a top decoder waiting for MCUs would wait for ever
        changed.wait(hold, [&] { return stop || !spare.empty(); });
        blocked = false;
      }
      if (stop) return nullptr;
      JBLOCK* chunk = nullptr;
      if (!spare.empty()) {
        chunk = spare.back();
        spare.pop_back();
      } else {
        try {
          // Aligned as libjpeg-turbo's SIMD inverse DCT loads a block (32 bytes).
          std::vector<JCOEF>& made = owned.emplace_back(kChunkMcus * mcuBlocks * DCTSIZE2 + 16);
          chunk = reinterpret_cast<JBLOCK*>((reinterpret_cast<uintptr_t>(made.data()) + 31) & ~uintptr_t{31});
          ownedBytes += chunkBytes;
        } catch (const std::bad_alloc&) {
          return nullptr;
        }
      }
      chunks[k / kChunkMcus] = chunk;
    }
    return Mcu(k);
  }

  void Publish(size_t count) {
    kept.store(count);
    if (topWaits.load() && count >= topNeeds.load()) Notify();
  }

  // The top decoder: waits until MCU k is kept (or will not be: the bottom
  // decoder ended, or waits for room), waking only once `batch` more are,
  // so as not to pay for a wake-up every MCU.
  bool WaitFor(size_t k, size_t batch) {
    if (kept.load() > k) return true;
    std::unique_lock<std::mutex> hold(lock);
    topNeeds = k + batch;
    topWaits = true;
    changed.wait(hold, [&] {
      return kept.load() >= topNeeds.load() || finished.load() || stop.load() || blocked.load();
    });
    topWaits = false;
    return kept.load() > k;
  }

  // The top decoder is done with the chunks before chunk `c`.
  void GiveBackBefore(size_t c, size_t& givenBack) {
    if (givenBack >= c) return;
    {
      std::lock_guard<std::mutex> hold(lock);
      for (; givenBack < c; ++givenBack)
        if (chunks[givenBack]) {
          spare.push_back(chunks[givenBack]);  // reserved: never allocates
          chunks[givenBack] = nullptr;
        }
    }
    if (blocked) changed.notify_all();
  }
};

// The bottom decoder. No member has a destructor.
struct SplitBottom {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  SplitShare* share;
  size_t mcu;   // the MCU being decoded
  size_t done;  // MCUs complete
};

// Its warnings mark the MCU they came in: one the top decoder takes makes
// the decode fail as the ordinary decode would.
void NoteWarning(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  auto& s = *reinterpret_cast<SplitBottom*>(cinfo);
  s.share->warned[s.mcu] = 1;
}

// The MCUs of a single-scan picture: a one-component scan has one block an
// MCU, and every row of blocks is a row of MCUs.
size_t McuCount(const jpeg_decompress_struct& cinfo) {
  if (cinfo.comps_in_scan == 1)
    return size_t{cinfo.cur_comp_info[0]->width_in_blocks} * cinfo.cur_comp_info[0]->height_in_blocks;
  return size_t{cinfo.MCUs_per_row} * cinfo.total_iMCU_rows;
}

bool SameScanLayout(const jpeg_decompress_struct& a, const jpeg_decompress_struct& b) {
  if (a.total_iMCU_rows != b.total_iMCU_rows || a.MCUs_per_row != b.MCUs_per_row ||
      a.comps_in_scan != b.comps_in_scan || a.num_components != b.num_components ||
      a.blocks_in_MCU != b.blocks_in_MCU || a.progressive_mode || a.arith_code || a.restart_interval)
    return false;
  for (int i = 0; i < a.blocks_in_MCU; ++i)
    if (a.MCU_membership[i] != b.MCU_membership[i]) return false;
  return true;
}

int DecodeFromInside(SplitBottom& s, std::span<const uint8_t> file, const jpeg_decompress_struct& whole,
                     const ScanData& data, size_t from) {
  j_decompress_ptr cinfo = &s.cinfo;
  SplitShare& share = *s.share;
  s.mcu = s.done = 0;
  jpeg_mem_src(cinfo, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(cinfo, TRUE);
  cinfo->out_color_space = whole.out_color_space;
  jpeg_start_decompress(cinfo);
  if (!SameScanLayout(*cinfo, whole)) return kCorruptData;
  s.err.pub.emit_message = NoteWarning;  // from here on, warnings are about the data
  cinfo->src->next_input_byte = file.data() + from;
  cinfo->src->bytes_in_buffer = file.size() - from;
  const auto skipped = static_cast<uint32_t>(from - data.start);
  DataClock clock{&data, file.data() + data.start,
                  static_cast<size_t>(std::lower_bound(data.stuffed.begin(), data.stuffed.end(), skipped) -
                                      data.stuffed.begin())};
  JBLOCKROW mcu[D_MAX_BLOCKS_IN_MCU];
  for (size_t k = 0; k < share.capacity && !share.stop; ++k) {
    JBLOCK* blocks = share.Room(k);
    if (!blocks || !clock.Bits(*cinfo, share.starts[k])) break;
    std::memset(blocks, 0, share.mcuBlocks * sizeof(JBLOCK));  // the decoder writes only non-zeros
    for (size_t b = 0; b < share.mcuBlocks; ++b) mcu[b] = blocks + b;
    s.mcu = k;
    if (!(*cinfo->entropy->decode_mcu)(cinfo, mcu) || cinfo->entropy->insufficient_data) break;
    s.done = k + 1;
    if (s.done % SplitShare::kPublishEvery == 0) share.Publish(s.done);
  }
  share.Publish(s.done);
  return kOk;
}

int RunSplitBottom(std::span<const uint8_t> file, const jpeg_decompress_struct& whole, const ScanData& data,
                   size_t from, SplitShare& share) {
  SplitBottom s;
  s.share = &share;
  const int result = Decompressing(s, [&] { return DecodeFromInside(s, file, whole, data, from); });
  share.Publish(s.done);
  share.finished = true;
  share.Notify();
  return result;
}

// The top decoder. No member has a destructor.
struct SplitTop {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  jpeg_d_coef_controller coef;
  SplitShare* share;
  DataClock clock;
  JBLOCK* own;          // the MCU it decodes itself
  size_t mcu;           // the next MCU of the picture
  size_t total;         // MCUs in the picture
  bool met, hopeless;
  size_t look;          // the first kept MCU that may yet begin where one of ours does
  size_t available;     // kept MCUs known to be complete
  size_t metAt, keptAt; // the picture's MCU where they met, and the kept one there
  size_t givenBack;     // chunks given back
  uint16_t dcShift[MAX_COMPS_IN_SCAN];
};

// Looks for a kept MCU that began where the next MCU begins.
void LookForKept(SplitTop& t) {
  SplitShare& share = *t.share;
  uint64_t here;
  if (!t.clock.Bits(t.cinfo, here)) {
    t.hopeless = true;
    return;
  }
  while (t.look < t.available && share.starts[t.look] < here) ++t.look;
  if (t.look == t.available) {
    // Past every kept MCU known: if no more are coming, the two never meet.
    const bool final = share.finished || share.blocked;
    t.available = share.kept.load();
    if (t.look == t.available && final) t.hopeless = true;
    return;
  }
  if (share.starts[t.look] != here) return;
  const size_t k = t.look;
  if (k + (t.total - t.mcu) > share.capacity) {
    t.hopeless = true;
    return;
  }
  // Each component's DC prediction: ours is the true one; the kept MCUs'
  // is the last DC value of the MCU before (zero at the first).
  const jpeg_decompress_struct& cinfo = t.cinfo;
  for (int c = 0; c < cinfo.comps_in_scan; ++c) {
    JCOEF predicted = 0;
    if (k > 0)
      for (int b = 0; b < cinfo.blocks_in_MCU; ++b)
        if (cinfo.MCU_membership[b] == c) predicted = share.Mcu(k - 1)[b][0];
    t.dcShift[c] = static_cast<uint16_t>(static_cast<uint16_t>(HuffmanHead(cinfo).last_dc_val[c]) -
                                         static_cast<uint16_t>(predicted));
  }
  t.met = true;
  t.metAt = t.mcu;
  t.keptAt = k;
  share.GiveBackBefore(k / kChunkMcus, t.givenBack);
}

// The picture's next MCU: decoded here, or kept by the bottom decoder.
JBLOCK* NextMcu(SplitTop& t) {
  j_decompress_ptr cinfo = &t.cinfo;
  SplitShare& share = *t.share;
  if (!t.met && !t.hopeless) LookForKept(t);
  if (!t.met) {
    JBLOCKROW mcu[D_MAX_BLOCKS_IN_MCU];
    std::memset(t.own, 0, share.mcuBlocks * sizeof(JBLOCK));
    for (size_t b = 0; b < share.mcuBlocks; ++b) mcu[b] = t.own + b;
    if (!(*cinfo->entropy->decode_mcu)(cinfo, mcu)) Fail(reinterpret_cast<j_common_ptr>(cinfo), kCorruptData);
    ++t.mcu;
    return t.own;
  }
  const size_t k = t.mcu - t.metAt + t.keptAt;
  // The chunks before this MCU's are used up: given back before any wait,
  // so that the bottom decoder never waits for room while this one waits
  // for it.
  share.GiveBackBefore(k / kChunkMcus, t.givenBack);
  if (k >= t.available) {
    if (!share.WaitFor(k, 4 * size_t{cinfo->MCUs_per_row})) Fail(reinterpret_cast<j_common_ptr>(cinfo), kCorruptData);
    t.available = share.kept.load();
  }
  if (share.warned[k]) Fail(reinterpret_cast<j_common_ptr>(cinfo), kCorruptData);
  JBLOCK* blocks = share.Mcu(k);
  for (int b = 0; b < cinfo->blocks_in_MCU; ++b) {
    JCOEF& dc = blocks[b][0];
    dc = static_cast<JCOEF>(static_cast<uint16_t>(static_cast<uint16_t>(dc) + t.dcShift[cinfo->MCU_membership[b]]));
  }
  ++t.mcu;
  return blocks;
}

// The top decoder's step that yields one iMCU row of samples: each MCU
// decoded (or taken) and put through the inverse DCT at once, the dummy
// blocks at the right and bottom left out, as libjpeg's one-pass
// coefficient controller does.
int SamplesOfSplitRow(j_decompress_ptr cinfo, JSAMPIMAGE output) {
  SplitTop& t = *reinterpret_cast<SplitTop*>(cinfo);
  const bool lastRow = cinfo->output_iMCU_row + 1 == cinfo->total_iMCU_rows;
  const jpeg_component_info* first = cinfo->cur_comp_info[0];
  const int mcuRows = cinfo->comps_in_scan > 1 ? 1 : !lastRow ? first->v_samp_factor : first->last_row_height;
  const JDIMENSION lastColumn = cinfo->MCUs_per_row - 1;
  for (int y = 0; y < mcuRows; ++y)
    for (JDIMENSION column = 0; column <= lastColumn; ++column) {
      JBLOCK* blocks = NextMcu(t);
      int b = 0;
      for (int ci = 0; ci < cinfo->comps_in_scan; ++ci) {
        jpeg_component_info* c = cinfo->cur_comp_info[ci];
        const inverse_DCT_method_ptr idct = cinfo->idct->inverse_DCT[c->component_index];
        const int useful = column < lastColumn ? c->MCU_width : c->last_col_width;
        JSAMPARRAY out = output[c->component_index] + y * c->DCT_scaled_size;
        for (int yi = 0; yi < c->MCU_height; ++yi, b += c->MCU_width, out += c->DCT_scaled_size) {
          if (lastRow && y + yi >= c->last_row_height) continue;
          JDIMENSION x = column * static_cast<JDIMENSION>(c->MCU_sample_width);
          for (int xi = 0; xi < useful; ++xi, x += static_cast<JDIMENSION>(c->DCT_scaled_size))
            idct(cinfo, c, blocks[b + xi], out, x);
        }
      }
    }
  return ++cinfo->output_iMCU_row < cinfo->total_iMCU_rows ? JPEG_ROW_COMPLETED : JPEG_SCAN_COMPLETED;
}

int DecodeFromTop(SplitTop& t, std::span<const uint8_t> file, const jpeg_decompress_struct& whole,
                  const ScanData& data, JBLOCK* own, const dib::ImageView& pixels) {
  j_decompress_ptr cinfo = &t.cinfo;
  jpeg_mem_src(cinfo, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(cinfo, TRUE);
  cinfo->out_color_space = whole.out_color_space;
  jpeg_start_decompress(cinfo);
  if (!SameScanLayout(*cinfo, whole) || cinfo->output_width != whole.output_width ||
      cinfo->output_height != whole.output_height)
    return kCorruptData;
  t.clock = DataClock{&data, file.data() + data.start, 0};
  t.own = own;
  t.mcu = 0;
  t.total = McuCount(*cinfo);
  t.met = t.hopeless = false;
  t.look = t.available = t.metAt = t.keptAt = t.givenBack = 0;
  t.coef = *cinfo->coef;
  t.coef.decompress_data = SamplesOfSplitRow;
  cinfo->coef = &t.coef;
  if (ReadScanlinesInto(cinfo, pixels) != kOk) return kCorruptData;
  // Decoded alone, the data must end where the picture does, as in an
  // ordinary decode (which reads on to the end of the picture).
  if (!t.met) {
    (*cinfo->inputctl->finish_input_pass)(cinfo);
    while (!cinfo->inputctl->eoi_reached)
      if ((*cinfo->inputctl->consume_input)(cinfo) == JPEG_SUSPENDED) return kCorruptData;
  }
  return kOk;
}

std::atomic<int> splitPointForTests{0};
std::atomic<bool> bottomFirstForTests{false};
std::atomic<uint64_t> splitMeetings{0};

// Where the bottom decoder starts, as a share of the data; 0 when the
// entropy decoding is not enough of the work for a cut to pay. The top
// decoder does the entropy decoding down to there and all the rest of the
// work, the bottom one the entropy decoding below, and the point is where
// both finish together, by the costs measured under Wine on a 12-megapixel
// photo: entropy decoding about 11 ns a byte of data alone, four fifths
// as much again beside the other thread; the rest about 1.25 ns a pixel
// and 53 ns a block.
double SplitPoint(const jpeg_decompress_struct& cinfo, const ScanData& data) {
  if (const int forced = splitPointForTests.load()) return forced / 100.0;
  double blocks = 0;
  for (int i = 0; i < cinfo.num_components; ++i)
    blocks += double(cinfo.comp_info[i].width_in_blocks) * double(cinfo.comp_info[i].height_in_blocks);
  const double entropy = 11.0 * double(data.end - data.start);
  const double rest = 1.25 * double(cinfo.output_width) * double(cinfo.output_height) + 53.0 * blocks;
  const double point = (1.8 * entropy - rest) / (2.8 * entropy);
  return point < 0.1 ? 0 : std::min(point, 0.5);
}

bool CanSplit(const jpeg_decompress_struct& whole) {
  return CanPipeline(whole) && !whole.arith_code && whole.restart_interval == 0;
}

// Decodes a file cut in two as above; false when the file is to be decoded
// another way, or when a side failed, so that the ordinary decode reports
// it.
bool TryDecodeSplit(const jpeg_decompress_struct& whole, std::span<const uint8_t> file, size_t dataStart,
                    const dib::ImageView& pixels) {
  if (!CanSplit(whole)) return false;
  try {
    ScanData data;
    if (!FindScanData(file, dataStart, data)) return false;
    const double point = SplitPoint(whole, data);
    if (point <= 0) return false;
    size_t from = data.start + 1 + static_cast<size_t>(point * double(data.end - data.start - 1));
    if (file[from - 1] == 0xFF) ++from;  // a stuffed zero is no place to start
    if (from >= data.end) return false;

    SplitShare share;
    share.mcuBlocks = static_cast<size_t>(whole.blocks_in_MCU);
    const size_t total = McuCount(whole);
    share.capacity = total + total / 4 + kChunkMcus;
    share.starts.resize(share.capacity);
    share.warned.resize(share.capacity);
    const size_t chunks = share.capacity / kChunkMcus + 1;
    share.chunks.resize(chunks);
    share.spare.reserve(chunks);
    share.owned.reserve(chunks);
    std::vector<JCOEF> own(size_t(D_MAX_BLOCKS_IN_MCU) * DCTSIZE2 + 16);
    auto* ownBlocks = reinterpret_cast<JBLOCK*>((reinterpret_cast<uintptr_t>(own.data()) + 31) & ~uintptr_t{31});

    int results[2] = {kNotAvailable, kNotAvailable};
    bool met = false;
    qb::work::ForEachRange(2, 1, [&](int64_t begin, int64_t end) {
      if (end - begin != 1) return;  // both on one thread: left to another decode
      if (begin == 1) {
        results[1] = RunSplitBottom(file, whole, data, from, share);
        return;
      }
      if (bottomFirstForTests) {
        std::unique_lock<std::mutex> hold(share.lock);
        share.changed.wait_for(hold, std::chrono::seconds(10),
                               [&] { return share.finished.load() || share.blocked.load(); });
      }
      SplitTop t;
      t.share = &share;
      results[0] = Decompressing(t, [&] { return DecodeFromTop(t, file, whole, data, ownBlocks, pixels); });
      met = t.met;
      share.Stop();
    });
    if (met) ++splitMeetings;
    return results[0] == kOk;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// The pieces a decode of the file is split into, for JpegDecodePieces.
int PlannedPieces(const jpeg_decompress_struct& cinfo, std::span<const uint8_t> file, size_t dataStart) {
  DecodeBandPlan plan;
  if (PlanDecodeBands(cinfo, file, dataStart, plan)) return static_cast<int>(plan.Bands());
  return CanPipeline(cinfo) ? 2 : 1;
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
  // The scan's entropy-coded data start where the headers' reading stopped.
  const auto dataStart = static_cast<size_t>(cinfo->src->next_input_byte - file.data());

  uint64_t blocks = 0;
  for (int i = 0; i < cinfo->num_components; ++i)
    blocks += uint64_t{cinfo->comp_info[i].width_in_blocks} * cinfo->comp_info[i].height_in_blocks;
  const uint64_t bufferBytes = CoefficientBufferBytes(*cinfo);
  const bool buffered = cinfo->progressive_mode || cinfo->comps_in_scan < cinfo->num_components;

  const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
  if (cinfo->image_width > static_cast<JDIMENSION>(std::numeric_limits<int32_t>::max()) ||
      cinfo->image_height > static_cast<JDIMENSION>(std::numeric_limits<int32_t>::max()))
    return kTooLarge;
  const auto width = static_cast<int32_t>(cinfo->image_width);
  const auto height = static_cast<int32_t>(cinfo->image_height);
  // The peak: the block, beside the coefficient buffer or a few rows.
  const uint64_t working = buffered ? bufferBytes : uint64_t{cinfo->image_width} * 3 * 2 * 16;
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

  // On several threads where the file allows it; a failure there is left
  // to the ordinary decode below, which reports it.
  if (!cmyk && (TryDecodeInBands(*cinfo, file, dataStart, block.pixels) ||
                TryDecodeSplit(*cinfo, file, dataStart, block.pixels) ||
                TryDecodeInPipeline(*cinfo, file, block.pixels)))
    return kOk;

  if (!cmyk) {
    if (ReadScanlinesInto(cinfo, block.pixels) != kOk) return kCorruptData;
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
constexpr int32_t kBandsPerThread = 3;

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
  // A few bands a thread, taken in turn, so that a thread given the sky
  // does not wait for the one given the trees.
  const int64_t wanted = int64_t{threads} * kBandsPerThread;
  int64_t bandMcuRows = (mcuRows + wanted - 1) / wanted;
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
bool FindScan(std::span<const uint8_t> f, size_t& data, size_t& heightAt) {
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

// Whether a band ends with its end-of-image marker, as every band libjpeg
// finished does.
bool EndsWhole(std::span<const uint8_t> band) {
  return band.size() >= 4 && band[band.size() - 2] == 0xFF && band[band.size() - 1] == 0xD9;
}

// The first band is in `file` from `start`; the entropy-coded data of the
// others (bands[1] on) follow it, each behind the next restart marker, and
// the first band's frame header gets the whole picture's height.
int JoinBands(std::vector<uint8_t>& file, size_t start, const std::vector<std::vector<uint8_t>>& bands,
              int32_t height) {
  size_t data = 0, heightAt = 0;
  const std::span<const uint8_t> first = std::span<const uint8_t>(file).subspan(start);
  if (!EndsWhole(first) || !FindScan(first, data, heightAt)) return kCorruptData;
  size_t total = file.size();
  for (size_t i = 1; i < bands.size(); ++i) {
    if (!EndsWhole(bands[i])) return kCorruptData;
    total += bands[i].size();
  }
  file[start + heightAt] = static_cast<uint8_t>(height >> 8);
  file[start + heightAt + 1] = static_cast<uint8_t>(height);
  file.resize(file.size() - 2);
  file.reserve(total);
  for (size_t i = 1; i < bands.size(); ++i) {
    if (!FindScan(bands[i], data, heightAt)) return kCorruptData;
    file.push_back(0xFF);
    file.push_back(static_cast<uint8_t>(0xD0 + ((i - 1) & 7)));
    file.insert(file.end(), bands[i].begin() + static_cast<std::ptrdiff_t>(data), bands[i].end() - 2);
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
  const int result = Decompressing(d, [&] { return DecodeInto(d, file, out); });
  CloseCmykTransform(d.transform);
  // A block that did not get its whole picture must not pass for one.
  if (result != kOk && d.block) std::fill_n(d.block, dib::kInfoHeaderSize, uint8_t{0});
  return result;
}

void SetJpegSplitPoint(int percent, bool bottomFirst) {
  splitPointForTests = std::clamp(percent, 0, 99);
  bottomFirstForTests = bottomFirst;
}

uint64_t JpegSplitMeetings() { return splitMeetings.load(); }

int JpegDecodePieces(std::span<const uint8_t> file) {
  if (file.empty() || file.size() > std::numeric_limits<unsigned long>::max()) return 0;
  Decompressor d;
  d.cinfo.err = SetUpErrors(d.err);
  int pieces = 0;
  if (!setjmp(d.err.jump)) {
    jpeg_create_decompress(&d.cinfo);
    jpeg_mem_src(&d.cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&d.cinfo, TRUE);
    const auto dataStart = static_cast<size_t>(d.cinfo.src->next_input_byte - file.data());
    d.cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&d.cinfo);
    const bool cmyk = d.cinfo.jpeg_color_space == JCS_CMYK || d.cinfo.jpeg_color_space == JCS_YCCK;
    pieces = cmyk ? 1 : PlannedPieces(d.cinfo, file, dataStart);
  }
  jpeg_destroy_decompress(&d.cinfo);
  return pieces;
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
    // Each band is encoded as a file of its own on the workers, the first
    // straight into `file`, where there is room for the rest (about what
    // quality 90 makes of a photograph); then the other bands' entropy-coded
    // data are joined behind it.
    file.reserve(start + std::max<size_t>(size_t{1} << 16, static_cast<size_t>(pixels.width()) *
                                                               static_cast<size_t>(pixels.height()) / 2));
    std::vector<std::vector<uint8_t>> bands(static_cast<size_t>(plan.bands));
    std::vector<int> results(bands.size(), kOk);
    qb::work::ForEachRange(plan.bands, 1, [&](int64_t begin, int64_t end) {
      for (int64_t b = begin; b < end; ++b) {
        const int32_t first = static_cast<int32_t>(b) * plan.bandRows;
        const int32_t rows = std::min(plan.bandRows, pixels.height() - first);
        results[static_cast<size_t>(b)] = EncodeBand(source, first, rows, quality, plan.restartInterval,
                                                     b == 0 ? file : bands[static_cast<size_t>(b)]);
      }
    });
    for (int r : results)
      if (r != kOk && result == kOk) result = r;
    if (result == kOk) result = JoinBands(file, start, bands, pixels.height());
  }
  if (result != kOk) file.resize(start);
  return result;
}

}  // namespace rastrum
