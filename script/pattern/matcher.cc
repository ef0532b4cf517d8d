// Pattern matcher: a depth-first backtracking search over the automaton.
//
// The plain form of this search is recursive and has no memory. This one keeps the same order of
// trial and finds the same winning path, but
// - it is iterative: the path is a stack of frames in engine memory (state, position, the edge
//   taken from it), so long texts cannot overflow the call stack;
// - a path never enters a (state, position) pair that it already holds (the empty-loop guard:
//   since positions never decrease along a path, this cuts exactly the cycles of empty moves);
// - it remembers failed (state, position) pairs and never explores one twice, across all start
//   positions of one call, so that the work is bounded by states x text length.
//
// Why remembering failures keeps the result. From a pair entered by a consuming edge (or a start
// position) the outcome depends only on that pair, because the guard then refers to nothing of
// the path before it. Within one position, the search is a depth-first walk of a graph whose
// exits (consuming edges and the final state) have such path-independent outcomes; a depth-
// first walk that never re-enters a node reaches every node first along its lexicographically
// first simple path (in edge order), so it tries the exits in the order in which the plain
// search first tries them, and repeated tries of an exit by the plain search can only fail
// again. A pair that failed has no successful exit reachable from it once the exploration that
// failed it is over, so refusing it later refuses only failing paths. Captures do not steer the
// search; they are read off the winning path at the end.
//
// Which pairs are remembered: only states that can be entered at one position along two
// different edges (two or more edges lead into them; with two-byte characters in the text also
// the targets of consuming edges, which a one-byte and a two-byte character before them can
// both reach). Every other state is entered at most once per entry of its single predecessor,
// so remembering it gains nothing. The memory is one bit per remembered state and text position,
// in blocks of positions allocated when first touched and freed once the start position has
// passed them. The last block holds only the positions up to the end of the text, so a short
// text clears only the bits it can use; when they fit in kInlineMemoWords the block is on the
// stack and the match allocates nothing for its memory. When a block cannot be had (or would pass
// kMemoBudgetBytes of live blocks) the search gives up and the match answers -1, like any other
// failure to get memory; searching on without memory could take exponential time.
#include <bit>
#include <cstring>

#include "script/pattern/pattern.h"
#include "script/pattern/pattern_internal.h"

namespace keytwine {
namespace {

using pattern_internal::ClassContains;

constexpr uint32_t kNoPosition = 0xFFFFFFFFu;
constexpr size_t kMaxTextLength = 0x7FFFFFF0u;
constexpr size_t kMemoBudgetBytes = size_t{64} << 20;
constexpr int kMemoBlockShift = 18;  // a memo block holds about 2^18 bits

constexpr size_t kInlineFrames = 128;
constexpr size_t kInlineStates = 64;
constexpr size_t kInlineCaptures = 16;
constexpr size_t kInlineMemoWords = 64;  // 4096 bits: 20 remembered states over 200 bytes

// The address of this object marks a memo block that was released.
uint64_t releasedBlock;

struct SearchFrame {
  int32_t state;
  int32_t edge;  // the edge taken from this state (-1 before the first)
  uint32_t position;
  uint32_t previousOnPath;  // onPath[state] before this frame was pushed
};

class Search {
 public:
  Search(const CompiledPattern* pattern, const unsigned char* text, uint32_t length,
         const bool* lead, bool twoByteText)
      : pattern_(pattern),
        edges_(pattern->edges),
        text_(text),
        length_(length),
        lead_(lead),
        twoByteText_(twoByteText),
        lineEndAnchored_(pattern->lineEndAnchored != 0),
        memoIndex_(pattern->memoIndex[twoByteText ? 1 : 0]),
        memoCount_(pattern->memoCount[twoByteText ? 1 : 0]) {}

  Search(const Search&) = delete;
  Search& operator=(const Search&) = delete;

  ~Search() {
    if (stack_ != inlineFrames_) port::Free(stack_);
    if (onPath_ != inlineOnPath_) port::Free(onPath_);
    if (blocks_ != nullptr) {
      for (size_t i = 0; i < blockCount_; ++i) FreeBlock(blocks_[i]);
      if (blocks_ != inlineBlocks_) port::Free(static_cast<void*>(blocks_));
    }
  }

  // 1: a match (Path() holds the winning path); 0: none; -1: memory ran out.
  int Run() {
    if (!Prepare()) return -1;
    const int32_t finalState = pattern_->finalState;
    const int32_t* heads = pattern_->states;
    uint32_t start = SkipToCandidate(0);
    while (start < length_) {
      ReleaseBlocksBelow(start);
      if (!Push(pattern_->startState, start)) return -1;
      while (top_ > 0) {
        SearchFrame& frame = stack_[top_ - 1];
        const int32_t e = frame.edge < 0 ? heads[frame.state] : edges_[frame.edge].next;
        if (e < 0) {  // every edge failed: so does the pair
          onPath_[frame.state] = frame.previousOnPath;
          const int32_t memo = memoIndex_[frame.state];
          if (memo >= 0) MarkFailed(memo, frame.position);
          --top_;
          continue;
        }
        frame.edge = e;
        const PatternEdge& edge = edges_[e];
        uint32_t position = frame.position;
        if (edge.consumes == 0 && !Consume(edge, &position)) continue;
        const int32_t target = edge.target;
        if (target == finalState) {
          if (Accepts(position)) return 1;
          continue;
        }
        if (onPath_[target] == position) continue;
        const int32_t memo = memoIndex_[target];
        if (memo >= 0) {
          const int failed = HasFailed(memo, position);
          if (failed < 0) return -1;
          if (failed != 0) continue;
        }
        // A frame with no edge left, of a state whose failures are not remembered, serves no
        // further purpose unless it holds a capture mark of the path: the new frame takes its
        // place. (Such a state is entered at most once, so its on-path mark is never asked.)
        if (edge.next < 0 && memoIndex_[frame.state] < 0 && edge.kind != kPatternCaptureMark) {
          onPath_[frame.state] = frame.previousOnPath;
          --top_;
        }
        if (!Push(target, position)) return -1;
      }
      if (pattern_->lineStartAnchored != 0) {
        while (start < length_ && text_[start] != '\r' && text_[start] != '\n') ++start;
        while (start < length_ && (text_[start] == '\r' || text_[start] == '\n')) ++start;
      } else {
        ++start;
      }
      start = SkipToCandidate(start);
    }
    return 0;
  }

  // The next start position, from `start` on, whose byte can begin a match (a skipped position
  // would fail at once: no path from the start state gets past its first character).
  uint32_t SkipToCandidate(uint32_t start) const {
    if (pattern_->hasFirstBytes == 0) return start;
    const uint32_t* first = pattern_->firstBytes;
    if (pattern_->lineStartAnchored == 0) {
      while (start < length_ && !pattern_internal::HasByte(first, text_[start])) ++start;
      return start;
    }
    while (start < length_ && !pattern_internal::HasByte(first, text_[start])) {
      while (start < length_ && text_[start] != '\r' && text_[start] != '\n') ++start;
      while (start < length_ && (text_[start] == '\r' || text_[start] == '\n')) ++start;
    }
    return start;
  }

  const SearchFrame* Path() const { return stack_; }
  size_t PathLength() const { return top_; }

 private:
  bool Prepare() {
    const size_t states = static_cast<size_t>(pattern_->stateCount);
    if (states > kInlineStates) {
      onPath_ = static_cast<uint32_t*>(port::Alloc(states * sizeof(uint32_t)));
      if (onPath_ == nullptr) return false;
    }
    for (size_t i = 0; i < states; ++i) onPath_[i] = kNoPosition;
    if (memoCount_ > 0) {
      // Positions per block: the power of two (2^6 at least) that gives a block more than half
      // of 2^kMemoBlockShift bits and no more than that.
      const int rowWidth = std::bit_width(static_cast<uint32_t>(memoCount_ - 1));
      shift_ = kMemoBlockShift - rowWidth < 6 ? 6 : kMemoBlockShift - rowWidth;
      blockCount_ = (static_cast<size_t>(length_) >> shift_) + 1;
      if (blockCount_ == 1) blocks_ = inlineBlocks_;
    }
    return true;
  }

  // Bytes of a memo block: its positions times the remembered states, the last block ending
  // at the end of the text (a position there is entered after the last character).
  size_t BlockBytes(size_t index) const {
    const size_t blockPositions = size_t{1} << shift_;
    const size_t positionsLeft = static_cast<size_t>(length_) + 1 - (index << shift_);
    const size_t positions = positionsLeft < blockPositions ? positionsLeft : blockPositions;
    const size_t bits = positions * static_cast<size_t>(memoCount_);
    return (bits + 63) / 64 * sizeof(uint64_t);
  }

  void FreeBlock(uint64_t* block) const {
    if (block != &releasedBlock && block != inlineMemo_) port::Free(block);
  }

  bool Push(int32_t state, uint32_t position) {
    if (top_ == capacity_) {
      const size_t capacity = capacity_ * 2;
      auto* frames = static_cast<SearchFrame*>(port::Alloc(capacity * sizeof(SearchFrame)));
      if (frames == nullptr) return false;
      std::memcpy(static_cast<void*>(frames), stack_, top_ * sizeof(SearchFrame));
      if (stack_ != inlineFrames_) port::Free(stack_);
      stack_ = frames;
      capacity_ = capacity;
    }
    stack_[top_++] = {state, -1, position, onPath_[state]};
    onPath_[state] = position;
    return true;
  }

  bool Consume(const PatternEdge& edge, uint32_t* position) const {
    const unsigned char* at = text_ + *position;
    const unsigned first = at[0];
    if (first == 0) return false;
    if (lineEndAnchored_ && (first == '\r' || first == '\n')) return false;
    const bool twoByte = twoByteText_ && lead_[first] && at[1] != 0;
    const unsigned second = twoByte ? at[1] : 0;
    if (edge.kind == kPatternClass) {
      if (edge.hasClassBits != 0) {
        if (!pattern_internal::HasByte(edge.classBits, first)) return false;
      } else {
        const bool* lead = lead_;
        if (!ClassContains(reinterpret_cast<const unsigned char*>(edge.classText), first, second,
                           [lead](unsigned b) { return lead[b]; })) {
          return false;
        }
      }
    } else if (first != static_cast<unsigned char>(edge.literal[0]) ||
               (twoByte && second != static_cast<unsigned char>(edge.literal[1]))) {
      return false;
    }
    *position += twoByte ? 2 : 1;
    return true;
  }

  bool Accepts(uint32_t position) const {
    if (!lineEndAnchored_) return true;
    const unsigned char c = text_[position];
    return c == 0 || c == '\r' || c == '\n';
  }

  // The memo block of a position, allocated on first touch; null when memory ran out.
  uint64_t* Block(uint32_t position) {
    if (blocks_ == nullptr) {
      blocks_ = static_cast<uint64_t**>(port::AllocZero(blockCount_ * sizeof(uint64_t*)));
      if (blocks_ == nullptr) return nullptr;
    }
    const size_t index = position >> shift_;
    uint64_t*& block = blocks_[index];
    if (block == nullptr) {
      const size_t bytes = BlockBytes(index);
      if (blockCount_ == 1 && bytes <= sizeof inlineMemo_) {
        std::memset(inlineMemo_, 0, bytes);
        block = inlineMemo_;
        return block;
      }
      if (liveBytes_ + bytes > kMemoBudgetBytes) return nullptr;
      block = static_cast<uint64_t*>(port::AllocZero(bytes));
      if (block == nullptr) return nullptr;
      liveBytes_ += bytes;
    }
    return block;
  }

  size_t BitOf(int32_t memo, uint32_t position) const {
    const size_t offset = position & ((uint32_t{1} << shift_) - 1);
    return offset * static_cast<size_t>(memoCount_) + static_cast<size_t>(memo);
  }

  // 1: the pair has failed before; 0: not yet; -1: memory ran out.
  int HasFailed(int32_t memo, uint32_t position) {
    const uint64_t* block = Block(position);
    if (block == nullptr) return -1;
    const size_t bit = BitOf(memo, position);
    return static_cast<int>(block[bit >> 6] >> (bit & 63) & 1);
  }

  // The pair was entered, so its block exists.
  void MarkFailed(int32_t memo, uint32_t position) {
    if (blocks_ == nullptr) return;
    uint64_t* block = blocks_[position >> shift_];
    if (block == nullptr || block == &releasedBlock) return;
    const size_t bit = BitOf(memo, position);
    block[bit >> 6] |= uint64_t{1} << (bit & 63);
  }

  // The search never comes back below its start position.
  void ReleaseBlocksBelow(uint32_t start) {
    if (blocks_ == nullptr) return;
    const size_t limit = start >> shift_;
    for (; released_ < limit; ++released_) {
      uint64_t*& block = blocks_[released_];
      if (block != nullptr && block != &releasedBlock && block != inlineMemo_) {
        port::Free(block);
        liveBytes_ -= BlockBytes(released_);
      }
      block = &releasedBlock;
    }
  }

  const CompiledPattern* pattern_;
  const PatternEdge* edges_;
  const unsigned char* text_;
  uint32_t length_;
  const bool* lead_;
  bool twoByteText_;
  // A copy that the stores of the search (32-bit, like the pattern's fields) cannot alias.
  bool lineEndAnchored_;
  const int32_t* memoIndex_;
  int32_t memoCount_;

  SearchFrame inlineFrames_[kInlineFrames];
  SearchFrame* stack_ = inlineFrames_;
  size_t capacity_ = kInlineFrames;
  size_t top_ = 0;

  uint32_t inlineOnPath_[kInlineStates];
  uint32_t* onPath_ = inlineOnPath_;

  uint64_t** blocks_ = nullptr;
  uint64_t* inlineBlocks_[1] = {nullptr};
  uint64_t inlineMemo_[kInlineMemoWords];
  size_t blockCount_ = 0;
  size_t liveBytes_ = 0;
  size_t released_ = 0;
  int shift_ = 0;
};

void AssignCaptures(const CaptureSink* sink, const CompiledPattern* pattern, const char* text,
                    const uint32_t* starts, const uint32_t* ends) {
  for (int32_t slot = 0; slot < pattern->captureCount; ++slot) {
    const char* bytes = "";
    size_t length = 0;
    if (starts != nullptr && starts[slot] != kNoPosition && ends[slot] != kNoPosition &&
        starts[slot] <= ends[slot]) {
      bytes = text + starts[slot];
      length = ends[slot] - starts[slot];
    }
    sink->assign(sink->context, pattern->captureTargets[slot], bytes, length);
  }
}

}  // namespace

int32_t MatchPattern(const CaptureSink* sink, const CompiledPattern* pattern, const char* text) {
  if (pattern == nullptr) return 0;
  if (text == nullptr) text = "";
  const size_t length = std::strlen(text);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);

  // Capture positions, one pair per slot.
  const size_t captures = static_cast<size_t>(pattern->captureCount);
  uint32_t inlinePositions[2 * kInlineCaptures] = {};
  uint32_t* positions = inlinePositions;
  if (captures > kInlineCaptures) {
    positions = static_cast<uint32_t*>(port::Alloc(2 * captures * sizeof(uint32_t)));
  }
  uint32_t* starts = positions;
  uint32_t* ends = positions != nullptr ? positions + captures : nullptr;
  if (positions != nullptr) {
    for (size_t i = 0; i < 2 * captures; ++i) positions[i] = kNoPosition;
  }

  int32_t result = positions != nullptr ? 0 : -1;
  if (length > 0 && length <= kMaxTextLength && positions != nullptr) {
    // Lead bytes: only bytes from 0x80 up can be lead bytes in any code page; the table is asked
    // of the port only when the text or a class text has such a byte.
    static constexpr bool kNoLeadBytes[256] = {};
    bool lead[256];
    const bool* leadTable = kNoLeadBytes;
    uint8_t high = 0;
    for (size_t i = 0; i < length; ++i) high |= bytes[i];
    const bool textHigh = (high & 0x80) != 0;
    bool anyLead = false;
    if (textHigh || pattern->classNeedsLeadBytes != 0) {
      std::memset(lead, 0, 0x80);
      for (unsigned b = 0x80; b < 256; ++b) {
        lead[b] = port::IsDBCSLeadByte(static_cast<uint8_t>(b));
        anyLead = anyLead || lead[b];
      }
      leadTable = lead;
    }
    Search search(pattern, bytes, static_cast<uint32_t>(length), leadTable, textHigh && anyLead);
    result = search.Run();
    if (result == 1) {
      const SearchFrame* path = search.Path();
      for (size_t i = 0; i < search.PathLength(); ++i) {
        const PatternEdge& edge = pattern->edges[path[i].edge];
        if (edge.kind != kPatternCaptureMark || edge.slot < 0) continue;
        if (edge.startTarget != nullptr) {
          starts[edge.slot] = path[i].position;
        } else {
          ends[edge.slot] = path[i].position;
        }
      }
    }
  }
  if (sink != nullptr) {
    if (result != 1 && positions != nullptr) {
      for (size_t i = 0; i < captures; ++i) starts[i] = kNoPosition;
    }
    AssignCaptures(sink, pattern, text, starts, ends);
  }
  if (positions != inlinePositions) port::Free(positions);
  return result;
}

}  // namespace keytwine
