#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "shell/parameter_tables.h"
#include "shell/plugin_resources.h"

namespace veltrane {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The whole halvane property list, written out from the resource format:
// little-endian integers, four-character codes reversed, every property's
// data padded to 4 with the padded length stored.
// clang-format off
const Bytes halvanePIPL = {
    0x01, 0x00,                                       // prelude
    0x00, 0x00, 0x00, 0x00,                           // list version 0
    0x0B, 0x00, 0x00, 0x00,                           // 11 properties
    // offset 10: 'kind'
    'M', 'I', 'B', '8',  'd', 'n', 'i', 'k',  0, 0, 0, 0,  0x04, 0, 0, 0,
    'M', 'F', 'B', '8',
    // offset 30: 'name', Pascal string of 17, 2 pad bytes
    'M', 'I', 'B', '8',  'e', 'm', 'a', 'n',  0, 0, 0, 0,  0x14, 0, 0, 0,
    0x11, 'H', 'a', 'l', 'v', 'a', 'n', 'e', ' ', 'v', '2', '.', '3', '.', '0', '.', '.', '.', 0, 0,
    // offset 66: 'catg'
    'M', 'I', 'B', '8',  'g', 't', 'a', 'c',  0, 0, 0, 0,  0x0C, 0, 0, 0,
    0x08, 'V', 'e', 'l', 't', 'r', 'a', 'n', 'e', 0, 0, 0,
    // offset 94: 'vers' 4.0
    'M', 'I', 'B', '8',  's', 'r', 'e', 'v',  0, 0, 0, 0,  0x04, 0, 0, 0,
    0x00, 0x00, 0x04, 0x00,
    // offset 114: 'wx86'
    'M', 'I', 'B', '8',  '6', '8', 'x', 'w',  0, 0, 0, 0,  0x0C, 0, 0, 0,
    'P', 'l', 'u', 'g', 'i', 'n', 'M', 'a', 'i', 'n', 0, 0,
    // offset 142: 'mode' grey, RGB, Lab
    'M', 'I', 'B', '8',  'e', 'd', 'o', 'm',  0, 0, 0, 0,  0x04, 0, 0, 0,
    0x50, 0x40, 0x00, 0x00,
    // offset 162: 'hstm' version 0, 'mdc1', 'mdc1', 16000, unique string
    'M', 'I', 'B', '8',  'm', 't', 's', 'h',  0, 0, 0, 0,  0x34, 0, 0, 0,
    0, 0, 0, 0,  '1', 'c', 'd', 'm',  '1', 'c', 'd', 'm',  0x80, 0x3E,
    // offset 192: the identifier, NUL, 1 pad byte
    'b', 'c', 'e', 'a', 'a', 'e', '1', '1', '-', '6', '4', 'f', '5', '-', '4', '6', '4', '2', '-',
    'a', '5', '3', 'b', '-', '7', '7', '9', '3', '5', '3', '6', '6', 'f', 'e', 'e', '2', 0, 0,
    // offset 230: 'enbl'
    'M', 'I', 'B', '8',  'l', 'b', 'n', 'e',  0, 0, 0, 0,  0x20, 0, 0, 0,
    'i', 'n', ' ', '(', 'P', 'S', 'H', 'O', 'P', '_', 'I', 'm', 'a', 'g', 'e', 'M', 'o', 'd', 'e', ',',
    ' ', 'R', 'G', 'B', 'M', 'o', 'd', 'e', ')', 0, 0, 0,
    // offset 278: 'ms32' 2,000,000 rows, 2,000,000 columns
    'M', 'I', 'B', '8',  '2', '3', 's', 'm',  0, 0, 0, 0,  0x08, 0, 0, 0,
    0x80, 0x84, 0x1E, 0x00,  0x80, 0x84, 0x1E, 0x00,
    // offset 302: 'flly'
    'M', 'I', 'B', '8',  'y', 'l', 'l', 'f',  0, 0, 0, 0,  0x04, 0, 0, 0,
    0x80, 0, 0, 0,
    // offset 322: 'fici', filter cases 1..7
    'M', 'I', 'B', '8',  'i', 'c', 'i', 'f',  0, 0, 0, 0,  0x1C, 0, 0, 0,
    4, 4, 6, 0,  4, 4, 14, 0,  4, 4, 14, 0,  4, 4, 6, 0,  4, 4, 14, 0,  4, 4, 6, 0,  4, 4, 14, 0,
};
// clang-format on

constexpr std::size_t nameOffset = 30, catgOffset = 66, modeOffset = 142;
constexpr std::size_t uniqueStringOffset = 192, enblOffset = 230;

Bytes slice(const Bytes& b, std::size_t from, std::size_t to) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to));
}

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(PluginPropertyList, HalvaneIsExact) {
  ASSERT_EQ(366u, halvanePIPL.size());
  EXPECT_EQ(halvanePIPL, buildPIPL(halvaneDeliverable()));
}

TEST(PluginPropertyList, MirelleDiffersInNameAndUniqueStringOnly) {
  // clang-format off
  const Bytes name = {
      'M', 'I', 'B', '8',  'e', 'm', 'a', 'n',  0, 0, 0, 0,  0x20, 0, 0, 0,
      0x1E, 'M', 'i', 'r', 'e', 'l', 'l', 'e', ' ', 'M', 'a', 't', 't', 'e', ' ', 'F', 'i', 'n', 'd', 'e', 'r',
      ' ', 'v', '1', '.', '0', '.', '0', '.', '.', '.', 0,
  };
  const Bytes uniqueString = {
      'A', 'D', 'B', '3', '2', '7', '3', '0', '-', 'A', 'D', '7', '7', '-', '5', 'F', '5', 'B', '-',
      '8', '7', '8', 'B', '-', 'E', 'F', '6', '8', '8', 'C', 'D', 'D', 'D', '7', '8', '9', 0, 0,
  };
  // clang-format on
  const Bytes expected = join({slice(halvanePIPL, 0, nameOffset), name,
                               slice(halvanePIPL, catgOffset, uniqueStringOffset), uniqueString,
                               slice(halvanePIPL, enblOffset, halvanePIPL.size())});
  EXPECT_EQ(expected, buildPIPL(mirelleDeliverable()));
}

TEST(PluginPropertyList, SixtyFourBitEntryFollowsThe32BitOne) {
  // clang-format off
  const Bytes entry64 = {
      'M', 'I', 'B', '8',  '4', '6', '6', '8',  0, 0, 0, 0,  0x0C, 0, 0, 0,
      'P', 'l', 'u', 'g', 'i', 'n', 'M', 'a', 'i', 'n', 0, 0,
  };
  // clang-format on
  Bytes expected = join({slice(halvanePIPL, 0, modeOffset), entry64,
                         slice(halvanePIPL, modeOffset, halvanePIPL.size())});
  expected[6] = 12;  // property count
  EXPECT_EQ(expected, buildPIPL(halvaneDeliverable(), true));
}

// Reads the terminology resource field by field.
class AeteReader {
 public:
  explicit AeteReader(const Bytes& b) : b_(b) {}

  std::uint8_t u8() { return b_.at(pos_++); }
  int u16() {
    const int lo = u8();
    return lo | (u8() << 8);
  }
  std::string key() {  // in reading order
    std::string s(4, ' ');
    for (std::size_t i = 4; i-- > 0;) s[i] = static_cast<char>(u8());
    return s;
  }
  std::string pascal() {
    const std::size_t n = u8();
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += static_cast<char>(u8());
    return s;
  }
  bool atEnd() const { return pos_ == b_.size(); }

 private:
  const Bytes& b_;
  std::size_t pos_ = 0;
};

struct AeteParameter {
  std::string name, key, type, description;
  int flags;
};

// Skips the header (checked byte for byte elsewhere) up to the parameter
// count and returns the parameters; checks the three empty counts after them.
std::vector<AeteParameter> aeteParameters(const Bytes& aete) {
  AeteReader r(aete);
  for (int i = 0; i < 5; ++i) r.u16();  // prelude, version, language, script, suites
  r.pascal();
  r.pascal();
  r.key();
  r.u16();
  r.u16();
  r.u16();
  r.pascal();
  r.pascal();
  r.key();
  r.key();
  r.key();
  r.pascal();
  r.u16();
  r.key();
  r.pascal();
  r.u16();
  const int count = r.u16();
  std::vector<AeteParameter> params;
  for (int i = 0; i < count; ++i) {
    AeteParameter p;
    p.name = r.pascal();
    p.key = r.key();
    p.type = r.key();
    p.description = r.pascal();
    p.flags = r.u16();
    params.push_back(p);
  }
  EXPECT_EQ(0, r.u16());  // classes
  EXPECT_EQ(0, r.u16());  // comparison operators
  EXPECT_EQ(0, r.u16());  // enumerations
  EXPECT_TRUE(r.atEnd());
  return params;
}

TEST(Terminology, HalvaneHeadFirstParametersAndTail) {
  // clang-format off
  const Bytes head = {
      0x01, 0x00,  0x01, 0x00,  0x00, 0x00,  0x00, 0x00,  0x01, 0x00,  // prelude, 1.0, English, Roman, 1 suite
      0x08, 'V', 'e', 'l', 't', 'r', 'a', 'n', 'e',
      0x17, 'N', 'o', 'i', 's', 'e', ' ', 'r', 'e', 'd', 'u', 'c', 't', 'i', 'o', 'n', ' ', 'p', 'l', 'u', 'g', '-', 'i', 'n',
      '1', 'c', 'd', 'm',  0x01, 0x00,  0x01, 0x00,                   // suite 'mdc1', level 1, version 1
      0x01, 0x00,                                                     // 1 event
      0x0E, 'H', 'a', 'l', 'v', 'a', 'n', 'e', ' ', 'v', '2', '.', '3', '.', '0',
      0x17, 'N', 'o', 'i', 's', 'e', ' ', 'r', 'e', 'd', 'u', 'c', 't', 'i', 'o', 'n', ' ', 'p', 'l', 'u', 'g', '-', 'i', 'n',
      '1', 'c', 'd', 'm',  '1', 'c', 'd', 'm',                        // class, id
      'l', 'l', 'u', 'n',  0x00,  0x00, 0x00,                         // reply 'null', "", flags
      'R', 'm', 'I', '#',  0x00,  0x00, 0xB0,                         // direct '#ImR', "", 0xB000
      0x19, 0x00,                                                     // 25 parameters
      0x13, 'O', 'v', 'e', 'r', 'a', 'l', 'l', ' ', 'n', 'o', 'i', 's', 'e', ' ', 'l', 'e', 'v', 'e', 'l',
      'H', 'g', 'r', 'b',  'b', 'u', 'o', 'd',
      0x13, 'O', 'v', 'e', 'r', 'a', 'l', 'l', ' ', 'n', 'o', 'i', 's', 'e', ' ', 'l', 'e', 'v', 'e', 'l',
      0x00, 0x00,
      0x16, 'H', 'i', 'g', 'h', 'l', 'i', 'g', 'h', 't', 's', ' ', 'n', 'o', 'i', 's', 'e', ' ', 'l', 'e', 'v', 'e', 'l',
      'T', 'n', 'o', 'c',  'b', 'u', 'o', 'd',
      0x16, 'H', 'i', 'g', 'h', 'l', 'i', 'g', 'h', 't', 's', ' ', 'n', 'o', 'i', 's', 'e', ' ', 'l', 'e', 'v', 'e', 'l',
      0x00, 0x00,
  };
  const Bytes tail = {
      0x14, 'c', 'l', 'e', 'a', 'n', 'e', 'r', ' ', 's', 'm', 'o', 'o', 't', 'h', ' ', 'a', 'r', 'e', 'a', 's',
      'i', 'a', 'l', 'B',  'l', 'o', 'o', 'b',
      0x14, 'C', 'l', 'e', 'a', 'n', 'e', 'r', ' ', 's', 'm', 'o', 'o', 't', 'h', ' ', 'a', 'r', 'e', 'a', 's',
      0x00, 0x00,
      0x00, 0x00,  0x00, 0x00,  0x00, 0x00,                           // no classes, operators, enumerations
  };
  // clang-format on
  const Bytes aete = buildAETE(halvaneDeliverable());
  ASSERT_GT(aete.size(), head.size() + tail.size());
  EXPECT_EQ(head, slice(aete, 0, head.size()));
  EXPECT_EQ(tail, slice(aete, aete.size() - tail.size(), aete.size()));
}

TEST(Terminology, HalvaneListsColourSharpeningAfterBWAndFourBooleans) {
  const std::vector<AeteParameter> params = aeteParameters(buildAETE(halvaneDeliverable()));
  const std::vector<std::string> keys = {"brgH", "conT", "bAdj", "satU", "lumC", "Rcoe", "Gcoe", "Bcoe", "Dbai",
                                         "Dbaj", "Dbak", "Dbal", "Dbam", "Dbat", "Dban", "Dbao", "Dbap", "Dbaq",
                                         "Dbar", "Dbas", "Dbau", "Blad", "Blae", "Blah", "Blai"};
  ASSERT_EQ(keys.size(), params.size());
  for (std::size_t i = 0; i < params.size(); ++i) {
    SCOPED_TRACE(i);
    const AeteParameter& p = params[i];
    EXPECT_EQ(keys[i], p.key);
    EXPECT_EQ(i < 21 ? "doub" : "bool", p.type);
    if (i < 21) {
      EXPECT_EQ(p.name, p.description);
    }
    EXPECT_EQ(0, p.flags);
  }
  EXPECT_EQ("Mix in original B&W detail", params[6].name);
  EXPECT_EQ("Sharpening (Color detail)", params[13].name);
  EXPECT_EQ("Edge Smoothing", params[20].name);
  EXPECT_EQ("film auto-profiling", params[22].name);
  EXPECT_EQ("Automatically profile scanned film images", params[22].description);
}

TEST(Terminology, MirelleEventAndSevenParameters) {
  const Bytes aete = buildAETE(mirelleDeliverable());
  AeteReader r(aete);
  for (int i = 0; i < 5; ++i) r.u16();
  EXPECT_EQ("Veltrane", r.pascal());
  EXPECT_EQ("Noise reduction plug-in", r.pascal());
  EXPECT_EQ("mdc1", r.key());
  for (int i = 0; i < 3; ++i) r.u16();  // level, version, events
  EXPECT_EQ("Mirelle Matte Finder v1.0.0", r.pascal());
  EXPECT_EQ("Mirelle Matte Finder plug-in", r.pascal());

  const std::vector<AeteParameter> params = aeteParameters(aete);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Overall noise level", "brgH"},
      {"Highlights noise level", "conT"},
      {"Low threshold", "Dbam"},
      {"High threshold", "Dbat"},
      {"digital auto-profiling", "Blad"},
      {"film auto-profiling", "Blae"},
      {"automatic profiling even if GUI does not load", "Blah"},
  };
  ASSERT_EQ(expected.size(), params.size());
  for (std::size_t i = 0; i < params.size(); ++i) {
    EXPECT_EQ(expected[i].first, params[i].name);
    EXPECT_EQ(expected[i].second, params[i].key);
    EXPECT_EQ(i < 4 ? "doub" : "bool", params[i].type);
  }
  EXPECT_EQ("Automatically profile images", params[6].description);
}

TEST(Terminology, RejectsWhatItCannotEncode) {
  Deliverable d = mirelleDeliverable();
  d.terminology.flagSlots[d.terminology.flagCount++] = 8;  // mirelle's flag 8 has no key
  EXPECT_THROW(buildAETE(d), std::invalid_argument);

  d = mirelleDeliverable();
  d.terminology.realSlots[d.terminology.realCount++] = 2;  // no scripting name in mirelle
  EXPECT_THROW(buildAETE(d), std::invalid_argument);

  d = halvaneDeliverable();
  const std::string longName(256, 'x');
  d.resourceName = longName.c_str();
  EXPECT_THROW(buildPIPL(d), std::length_error);
}

}  // namespace
}  // namespace veltrane
