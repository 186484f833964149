// Compressor and decompressor of the UEFI compression format.
//
// A block: a 16-bit symbol count; the T code (code lengths of the C code
// lengths; 5-bit count, lengths in 3 bits with a unary tail past 6, after
// the third a 2-bit run of zeros); the C code lengths (9-bit count, each a
// T symbol: 0 one zero, 1 + 4 bits 3..18 zeros, 2 + 9 bits 20..531 zeros,
// k + 2 length k); the P code lengths (4-bit count, as the T code, no zero
// run); then the symbols. A C symbol below 256 is a literal, 256 + n a match
// of n + 3 bytes followed by a P symbol: the bit length k of distance - 1,
// then its k - 1 bits below the leading one. A set with one symbol is sent as
// a zero count and the symbol, and costs no bits per use. Every code is a
// complete canonical prefix code of at most 16 bits: firmware decoders
// refuse anything else.
#include "tools/mkrom/compress.h"

#include <algorithm>
#include <functional>
#include <queue>
#include <utility>

namespace efic {
namespace {

constexpr int kNC = 256 + kMaxMatch - kMinMatch + 1;  // literals and match lengths
constexpr int kNP = 14;                              // bit lengths of distance - 1: 0..13
constexpr int kNT = 16 + 3;                          // three zero runs, lengths 1..16
constexpr int kCBits = 9, kTBits = 5, kPBits = 4;
constexpr int kMaxBits = 16;
constexpr int kTZeroRunAfter = 3;

int DistanceClass(uint32_t distance) {
  int k = 0;
  while ((distance - 1) >> k) ++k;
  return k;
}

class BitWriter {
 public:
  void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      acc_ = static_cast<uint8_t>(acc_ << 1 | (value >> i & 1));
      if (++used_ == 8) {
        bytes_.push_back(acc_);
        acc_ = 0;
        used_ = 0;
      }
    }
  }
  std::vector<uint8_t> Finish() {
    if (used_) Put(0, 8 - used_);
    return std::move(bytes_);
  }

 private:
  std::vector<uint8_t> bytes_;
  uint8_t acc_ = 0;
  int used_ = 0;
};

}  // namespace

// Past 16 bits the frequencies are flattened and the tree built again:
// rare, and the code stays complete, as a length-limiting repair must keep
// it.
std::vector<uint8_t> CodeLengths(std::vector<uint32_t> freq) {
  for (;;) {
    std::vector<int> parent;
    std::vector<int> leaf(freq.size(), -1);
    using Item = std::pair<uint64_t, int>;
    std::priority_queue<Item, std::vector<Item>, std::greater<Item>> q;
    for (size_t s = 0; s < freq.size(); ++s) {
      if (!freq[s]) continue;
      leaf[s] = static_cast<int>(parent.size());
      parent.push_back(-1);
      q.push({freq[s], leaf[s]});
    }
    while (q.size() > 1) {
      Item a = q.top();
      q.pop();
      Item b = q.top();
      q.pop();
      int node = static_cast<int>(parent.size());
      parent.push_back(-1);
      parent[a.second] = parent[b.second] = node;
      q.push({a.first + b.first, node});
    }
    // Parents come after their children: depths from the root down.
    std::vector<int> depth(parent.size(), 0);
    for (int i = static_cast<int>(parent.size()) - 2; i >= 0; --i) depth[i] = depth[parent[i]] + 1;
    std::vector<uint8_t> len(freq.size(), 0);
    int longest = 0;
    for (size_t s = 0; s < freq.size(); ++s) {
      if (leaf[s] < 0) continue;
      len[s] = static_cast<uint8_t>(depth[leaf[s]]);
      longest = std::max(longest, depth[leaf[s]]);
    }
    if (longest <= kMaxBits) return len;
    for (uint32_t& f : freq)
      if (f) f = (f + 1) / 2;
  }
}

namespace {

struct Code {
  int single = -1;  // the only symbol of the set, sent without bits
  std::vector<uint8_t> len;
  std::vector<uint16_t> bits;
};

Code MakeCode(const std::vector<uint32_t>& freq) {
  Code c;
  c.len.assign(freq.size(), 0);
  c.bits.assign(freq.size(), 0);
  int used = 0, last = 0;
  for (size_t s = 0; s < freq.size(); ++s)
    if (freq[s]) ++used, last = static_cast<int>(s);
  if (used <= 1) {
    c.single = last;
    return c;
  }
  c.len = CodeLengths(freq);
  // Canonical: shorter codes first, equal lengths in symbol order.
  uint32_t next[kMaxBits + 2] = {}, count[kMaxBits + 2] = {};
  for (uint8_t l : c.len) ++count[l];
  count[0] = 0;
  for (uint32_t l = 1, code = 0; l <= kMaxBits; ++l) {
    code = (code + count[l - 1]) << 1;
    next[l] = code;
  }
  for (size_t s = 0; s < freq.size(); ++s)
    if (c.len[s]) c.bits[s] = static_cast<uint16_t>(next[c.len[s]]++);
  return c;
}

void PutSymbol(BitWriter& w, const Code& c, int s) {
  if (c.single < 0) w.Put(c.bits[s], c.len[s]);
}

int Used(const std::vector<uint8_t>& len) {
  int n = static_cast<int>(len.size());
  while (n > 0 && !len[n - 1]) --n;
  return n;
}

// T and P code lengths.
void PutLengths(BitWriter& w, const Code& c, int countBits, int zeroRunAfter) {
  if (c.single >= 0) {
    w.Put(0, countBits);
    w.Put(static_cast<uint32_t>(c.single), countBits);
    return;
  }
  int n = Used(c.len);
  w.Put(static_cast<uint32_t>(n), countBits);
  for (int i = 0; i < n;) {
    int l = c.len[i++];
    if (l < 7) {
      w.Put(static_cast<uint32_t>(l), 3);
    } else {
      w.Put(7, 3);
      w.Put(((1u << (l - 7)) - 1) << 1, l - 6);  // l - 7 ones and a zero
    }
    if (i == zeroRunAfter) {
      int z = 0;
      while (z < 3 && i + z < n && !c.len[i + z]) ++z;
      w.Put(static_cast<uint32_t>(z), 2);
      i += z;
    }
  }
}

struct LenToken {
  uint8_t sym;
  uint16_t extra;
};

// The C code lengths as T symbols.
std::vector<LenToken> CLengthTokens(const std::vector<uint8_t>& len) {
  std::vector<LenToken> t;
  int n = Used(len);
  for (int i = 0; i < n;) {
    if (len[i]) {
      t.push_back({static_cast<uint8_t>(len[i++] + 2), 0});
      continue;
    }
    int run = 0;
    while (i + run < n && !len[i + run]) ++run;
    i += run;
    if (run == 19) t.push_back({0, 0}), run = 18;  // 19 has no form of its own
    if (run <= 2)
      for (int k = 0; k < run; ++k) t.push_back({0, 0});
    else if (run <= 18)
      t.push_back({1, static_cast<uint16_t>(run - 3)});
    else
      t.push_back({2, static_cast<uint16_t>(run - 20)});
  }
  return t;
}

struct Token {
  uint16_t length;  // 0: a literal
  uint16_t value;   // the literal byte, or the distance
};

int CSymbol(const Token& t) { return t.length ? 256 + t.length - kMinMatch : t.value; }

void PutBlock(BitWriter& w, const Token* tok, size_t count) {
  std::vector<uint32_t> cf(kNC), pf(kNP), tf(kNT);
  for (size_t i = 0; i < count; ++i) {
    ++cf[CSymbol(tok[i])];
    if (tok[i].length) ++pf[DistanceClass(tok[i].value)];
  }
  Code c = MakeCode(cf), p = MakeCode(pf), t;
  std::vector<LenToken> lens;
  if (c.single < 0) {
    lens = CLengthTokens(c.len);
    for (const LenToken& l : lens) ++tf[l.sym];
    t = MakeCode(tf);
  } else {
    t.single = 0;
  }
  w.Put(static_cast<uint32_t>(count), 16);
  PutLengths(w, t, kTBits, kTZeroRunAfter);
  if (c.single >= 0) {
    w.Put(0, kCBits);
    w.Put(static_cast<uint32_t>(c.single), kCBits);
  } else {
    w.Put(static_cast<uint32_t>(Used(c.len)), kCBits);
    for (const LenToken& l : lens) {
      PutSymbol(w, t, l.sym);
      if (l.sym == 1) w.Put(l.extra, 4);
      if (l.sym == 2) w.Put(l.extra, kCBits);
    }
  }
  PutLengths(w, p, kPBits, -1);
  for (size_t i = 0; i < count; ++i) {
    PutSymbol(w, c, CSymbol(tok[i]));
    if (!tok[i].length) continue;
    int k = DistanceClass(tok[i].value);
    PutSymbol(w, p, k);
    if (k > 1) w.Put((tok[i].value - 1u) & ((1u << (k - 1)) - 1), k - 1);
  }
}

std::vector<uint8_t> Encode(const std::vector<Token>& tokens, uint32_t blockSymbols) {
  BitWriter w;
  for (size_t at = 0; at < tokens.size(); at += blockSymbols)
    PutBlock(w, &tokens[at], std::min<size_t>(blockSymbols, tokens.size() - at));
  return w.Finish();
}

// For every position, the matches before it within reach: lengths strictly
// increasing, each at the nearest distance that gives it.
class MatchLists {
 public:
  MatchLists(const uint8_t* d, size_t n) : start_(n + 1) {
    constexpr int kHashBits = 15;
    constexpr int kChainSteps = 4096;
    std::vector<int64_t> head(size_t{1} << kHashBits, -1), prev(n, -1);
    for (size_t i = 0; i < n; ++i) {
      start_[i] = matches_.size();
      if (i + kMinMatch > n) continue;
      uint32_t h = (uint32_t{d[i]} << 16 | d[i + 1] << 8 | d[i + 2]) * 2654435761u >> (32 - kHashBits);
      uint32_t limit = static_cast<uint32_t>(std::min<size_t>(kMaxMatch, n - i));
      uint32_t best = kMinMatch - 1;
      int steps = 0;
      for (int64_t c = head[h]; c >= 0 && i - c <= kMaxDistance && steps++ < kChainSteps; c = prev[c]) {
        if (d[c + best] != d[i + best]) continue;
        uint32_t l = 0;
        while (l < limit && d[c + l] == d[i + l]) ++l;
        if (l <= best) continue;
        best = l;
        matches_.push_back({static_cast<uint16_t>(l), static_cast<uint16_t>(i - c)});
        if (l == limit) break;
      }
      prev[i] = head[h];
      head[h] = static_cast<int64_t>(i);
    }
    start_[n] = matches_.size();
  }
  const Token* begin(size_t i) const { return matches_.data() + start_[i]; }
  const Token* end(size_t i) const { return matches_.data() + start_[i + 1]; }

 private:
  std::vector<Token> matches_;
  std::vector<size_t> start_;
};

struct Costs {
  uint32_t c[kNC];
  uint32_t p[kNP];  // with the extra bits
};

Costs StartingCosts() {
  Costs k;
  for (int s = 0; s < kNC; ++s) k.c[s] = s < 256 ? 8 : 10;
  for (int s = 0; s < kNP; ++s) k.p[s] = 4 + (s > 1 ? s - 1 : 0);
  return k;
}

// Bits per symbol under the Huffman code the tokens would get as one block;
// a symbol they do not use costs more than any they do.
Costs CostsOf(const std::vector<Token>& tokens) {
  std::vector<uint32_t> cf(kNC), pf(kNP);
  for (const Token& t : tokens) {
    ++cf[CSymbol(t)];
    if (t.length) ++pf[DistanceClass(t.value)];
  }
  Costs k;
  auto fill = [](const std::vector<uint32_t>& freq, uint32_t* out) {
    Code code = MakeCode(freq);
    for (size_t s = 0; s < freq.size(); ++s)
      out[s] = code.len[s] || static_cast<int>(s) == code.single ? code.len[s] : kMaxBits + 2;
  };
  fill(cf, k.c);
  fill(pf, k.p);
  for (int s = 2; s < kNP; ++s) k.p[s] += s - 1;
  return k;
}

// The cheapest parse under fixed symbol costs.
std::vector<Token> Parse(const uint8_t* d, size_t n, const MatchLists& m, const Costs& k) {
  std::vector<uint32_t> cost(n + 1, UINT32_MAX);
  std::vector<Token> how(n + 1);
  auto relax = [&](size_t to, uint32_t c, Token t) {
    if (c < cost[to]) cost[to] = c, how[to] = t;
  };
  cost[0] = 0;
  for (size_t i = 0; i < n; ++i) {
    relax(i + 1, cost[i] + k.c[d[i]], {0, d[i]});
    uint32_t from = kMinMatch;
    for (const Token* x = m.begin(i); x != m.end(i); ++x) {
      uint32_t dc = cost[i] + k.p[DistanceClass(x->value)];
      for (uint32_t l = from; l <= x->length; ++l)
        relax(i + l, dc + k.c[256 + l - kMinMatch], {static_cast<uint16_t>(l), x->value});
      from = x->length + 1u;
    }
  }
  std::vector<Token> tokens;
  for (size_t at = n; at > 0; at -= how[at].length ? how[at].length : 1) tokens.push_back(how[at]);
  std::reverse(tokens.begin(), tokens.end());
  return tokens;
}

void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> 8 * i));
}

class BitReader {
 public:
  BitReader(const uint8_t* p, size_t n) : p_(p), bits_(n * 8) {}
  bool Get(int n, uint32_t* v) {
    *v = 0;
    for (int i = 0; i < n; ++i, ++at_) {
      if (at_ >= bits_) return false;
      *v = *v << 1 | (p_[at_ / 8] >> (7 - at_ % 8) & 1);
    }
    return true;
  }
  size_t at() const { return at_; }

 private:
  const uint8_t* p_;
  size_t bits_, at_ = 0;
};

struct Table {
  int single = -1;
  uint16_t count[kMaxBits + 1] = {};
  std::vector<uint16_t> symbols;  // by length, then by value
};

bool BuildTable(const uint8_t* len, int n, Table* t) {
  uint32_t kraft = 0;
  for (int s = 0; s < n; ++s)
    if (len[s]) ++t->count[len[s]], kraft += 1u << (kMaxBits - len[s]);
  if (kraft != 1u << kMaxBits) return false;
  for (int l = 1; l <= kMaxBits; ++l)
    for (int s = 0; s < n; ++s)
      if (len[s] == l) t->symbols.push_back(static_cast<uint16_t>(s));
  return true;
}

bool DecodeSymbol(BitReader& r, const Table& t, int* sym) {
  if (t.single >= 0) {
    *sym = t.single;
    return true;
  }
  int code = 0, first = 0, index = 0;
  for (int l = 1; l <= kMaxBits; ++l) {
    uint32_t b;
    if (!r.Get(1, &b)) return false;
    code |= static_cast<int>(b);
    if (code - first < t.count[l]) {
      *sym = t.symbols[index + code - first];
      return true;
    }
    index += t.count[l];
    first = (first + t.count[l]) << 1;
    code <<= 1;
  }
  return false;
}

class Decoder {
 public:
  Decoder(const uint8_t* p, size_t n, std::string* why) : r_(p, n), why_(why) {}

  bool Run(uint32_t original, std::vector<uint8_t>* out, StreamInfo* info) {
    uint32_t left = 0;
    while (out->size() < original) {
      if (!left) {
        if (!Bits(16, &left)) return false;
        if (!left) return Fail("a block of no symbols");
        if (!ReadLengths(kNT, kTBits, kTZeroRunAfter, &t_, "T") || !ReadCLengths() ||
            !ReadLengths(kNP, kPBits, -1, &p_, "P"))
          return false;
        ++info->blocks;
      }
      --left;
      int s;
      if (!Symbol(c_, &s)) return false;
      if (s < 256) {
        out->push_back(static_cast<uint8_t>(s));
        ++info->literals;
        continue;
      }
      uint32_t length = static_cast<uint32_t>(s) - 256 + kMinMatch, distance, k;
      int pk;
      if (!Symbol(p_, &pk)) return false;
      distance = static_cast<uint32_t>(pk);
      if (pk > 1) {
        if (!Bits(pk - 1, &k)) return false;
        distance = (1u << (pk - 1)) + k;
      }
      ++distance;
      if (distance > out->size()) return Fail("a match reaches before the start");
      if (length > original - out->size()) return Fail("a match runs past the original size");
      for (size_t from = out->size() - distance, i = 0; i < length; ++i) out->push_back((*out)[from + i]);
      ++info->matches;
      info->longest = std::max(info->longest, length);
      info->farthest = std::max(info->farthest, distance);
    }
    if (left) return Fail("the last block announces more symbols than the original size takes");
    return true;
  }
  size_t BitsRead() const { return r_.at(); }
  BitReader& reader() { return r_; }

 private:
  bool Fail(std::string what) {
    *why_ = std::move(what);
    return false;
  }
  bool Bits(int n, uint32_t* v) { return r_.Get(n, v) || Fail("the stream ends early"); }
  bool Symbol(const Table& t, int* s) { return DecodeSymbol(r_, t, s) || Fail("the stream ends early"); }

  bool ReadLengths(int symbols, int countBits, int zeroRunAfter, Table* t, const std::string& set) {
    *t = Table();
    uint32_t n, v;
    if (!Bits(countBits, &n)) return false;
    if (!n) {
      if (!Bits(countBits, &v)) return false;
      if (v >= static_cast<uint32_t>(symbols)) return Fail(set + " set: single symbol out of range");
      t->single = static_cast<int>(v);
      return true;
    }
    if (n > static_cast<uint32_t>(symbols)) return Fail(set + " set: more code lengths than symbols");
    uint8_t len[kNT] = {};
    for (uint32_t i = 0; i < n;) {
      if (!Bits(3, &v)) return false;
      for (uint32_t more = v == 7; more;) {
        if (!Bits(1, &more)) return false;
        if (more && ++v > kMaxBits) return Fail(set + " set: a code length over 16");
      }
      len[i++] = static_cast<uint8_t>(v);
      if (i == static_cast<uint32_t>(zeroRunAfter)) {
        if (!Bits(2, &v)) return false;
        if (i + v > n) return Fail(set + " set: zero run past the count");
        i += v;
      }
    }
    return BuildTable(len, symbols, t) || Fail(set + " set: not a complete prefix code");
  }

  bool ReadCLengths() {
    c_ = Table();
    uint32_t n, v;
    if (!Bits(kCBits, &n)) return false;
    if (!n) {
      if (!Bits(kCBits, &v)) return false;
      if (v >= kNC) return Fail("C set: single symbol out of range");
      c_.single = static_cast<int>(v);
      return true;
    }
    if (n > kNC) return Fail("C set: more code lengths than symbols");
    uint8_t len[kNC] = {};
    for (uint32_t i = 0; i < n;) {
      int s;
      if (!Symbol(t_, &s)) return false;
      if (s > 2) {
        len[i++] = static_cast<uint8_t>(s - 2);
        continue;
      }
      uint32_t run = 1;
      if (s == 1) {
        if (!Bits(4, &v)) return false;
        run = v + 3;
      } else if (s == 2) {
        if (!Bits(kCBits, &v)) return false;
        run = v + 20;
      }
      if (i + run > n) return Fail("C set: zero run past the count");
      i += run;
    }
    return BuildTable(len, kNC, &c_) || Fail("C set: not a complete prefix code");
  }

  BitReader r_;
  std::string* why_;
  Table t_, c_, p_;
};

}  // namespace

std::vector<uint8_t> Compress(const uint8_t* data, size_t size, const CompressOptions& options) {
  uint32_t block = std::min(std::max(options.block_symbols, 1u), kMaxBlockSymbols);
  MatchLists matches(data, size);
  // Each parse is the cheapest under the code the previous one gave; a few
  // rounds settle, and the smallest stream wins.
  std::vector<uint8_t> best;
  Costs costs = StartingCosts();
  for (int round = 0; round < 5; ++round) {
    std::vector<Token> tokens = Parse(data, size, matches, costs);
    std::vector<uint8_t> bits = Encode(tokens, block);
    if (round == 0 || bits.size() < best.size()) best = std::move(bits);
    costs = CostsOf(tokens);
  }
  std::vector<uint8_t> out;
  Put32(out, static_cast<uint32_t>(best.size()));
  Put32(out, static_cast<uint32_t>(size));
  out.insert(out.end(), best.begin(), best.end());
  return out;
}

bool Decompress(const uint8_t* src, size_t size, std::vector<uint8_t>* out, std::string* why, StreamInfo* info,
                uint32_t max_original) {
  StreamInfo local;
  if (!info) info = &local;
  *info = StreamInfo();
  why->clear();
  out->clear();
  if (size < kHeaderSize) return *why = "shorter than the 8-byte header", false;
  auto u32 = [&](size_t at) {
    return uint32_t{src[at]} | uint32_t{src[at + 1]} << 8 | uint32_t{src[at + 2]} << 16 | uint32_t{src[at + 3]} << 24;
  };
  info->compressed_size = u32(0);
  info->original_size = u32(4);
  if (info->compressed_size > size - kHeaderSize) return *why = "compressed size runs past the data", false;
  if (info->original_size > max_original) return *why = "original size over the limit", false;
  out->reserve(info->original_size);
  Decoder d(src + kHeaderSize, info->compressed_size, why);
  if (!d.Run(info->original_size, out, info)) return false;
  // The last byte holds only zero padding after the last symbol, and
  // there is no byte after it.
  size_t used = d.BitsRead();
  if ((used + 7) / 8 != info->compressed_size) return *why = "bytes left after the last symbol", false;
  uint32_t pad;
  if (!d.reader().Get(static_cast<int>((8 - used % 8) % 8), &pad) || pad)
    return *why = "padding bits after the last symbol are not zero", false;
  return true;
}

}  // namespace efic
