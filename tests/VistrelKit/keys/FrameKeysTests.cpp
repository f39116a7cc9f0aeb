#include <gtest/gtest.h>

#include <numeric>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "VistrelKit/base/Base64.h"
#include "VistrelKit/keys/CryptoPrimitives.h"
#include "VistrelKit/keys/FrameKeys.h"
#include "VistrelKit/keys/VistrelCryptoError.h"

namespace vistrel {
namespace {

Bytes hex(std::string_view text) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes.push_back(
        static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
  }
  return bytes;
}

std::string hexOf(crypto::ByteView bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string text;
  for (auto byte : bytes) {
    text += digits[byte >> 4];
    text += digits[byte & 0x0f];
  }
  return text;
}

MasterKey masterKeyOf(std::uint8_t first) {
  MasterKey::Storage bytes{};
  std::iota(bytes.begin(), bytes.end(), first);
  return MasterKey(bytes);
}

template <typename Body>
void expectDamaged(Body&& body) {
  try {
    body();
    ADD_FAILURE() << "expected VistrelCryptoError::damaged";
  } catch (const VistrelCryptoError& error) {
    EXPECT_EQ(error, VistrelCryptoError::damaged());
  }
}

// RFC 5869, Appendix A.1 (Test Case 1: basic test case with SHA-256).
TEST(CryptoPrimitivesTest, HkdfSha256MatchesRfc5869TestCase1) {
  const Bytes ikm = hex("0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b");
  const Bytes salt = hex("000102030405060708090a0b0c");
  const Bytes info = hex("f0f1f2f3f4f5f6f7f8f9");
  Bytes okm(42);
  crypto::hkdfSha256(ikm, salt, info, okm);
  EXPECT_EQ(hexOf(okm),
            "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865");
}

// RFC 4231, section 4.3 (Test Case 2: a key shorter than the block, "Jefe").
TEST(CryptoPrimitivesTest, HmacSha256MatchesRfc4231TestCase2) {
  const auto mac = crypto::hmacSha256(bytesOf("Jefe"), bytesOf("what do ya want for nothing?"));
  EXPECT_EQ(hexOf(mac), "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

// The once-keyed form gives the same MACs, call after call; RFC 4231 test cases 2 (short key)
// and 6 (a key longer than the block, which HMAC hashes first).
TEST(CryptoPrimitivesTest, KeyedHmacSha256MatchesRfc4231) {
  const crypto::HmacSha256 jefe(bytesOf("Jefe"));
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(hexOf(jefe.mac(bytesOf("what do ya want for nothing?"))),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  }
  const crypto::HmacSha256 longKey(Bytes(131, 0xaa));
  EXPECT_EQ(hexOf(longKey.mac(bytesOf("Test Using Larger Than Block-Size Key - Hash Key First"))),
            "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
  EXPECT_EQ(hexOf(jefe.mac({})), hexOf(crypto::hmacSha256(bytesOf("Jefe"), {})));
}

struct GcmVector {
  const char* name;
  const char* key;
  const char* nonce;
  const char* plaintext;
  const char* associatedData;
  const char* ciphertext;
  const char* tag;
};

// McGrew and Viega, "The Galois/Counter Mode of Operation (GCM)", Appendix B, the AES-256 test
// cases with a 96-bit IV; the vectors NIST SP 800-38D's validation draws on.
const GcmVector gcmVectors[] = {
    {"TestCase13", "0000000000000000000000000000000000000000000000000000000000000000",
     "000000000000000000000000", "", "", "", "530f8afbc74536b9a963b4f1c4cb738b"},
    {"TestCase14", "0000000000000000000000000000000000000000000000000000000000000000",
     "000000000000000000000000", "00000000000000000000000000000000", "",
     "cea7403d4d606b6e074ec5d3baf39d18", "d0d1c8a799996bf0265b98b5d48ab919"},
    {"TestCase16", "feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308",
     "cafebabefacedbaddecaf888",
     "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
     "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39",
     "feedfacedeadbeeffeedfacedeadbeefabaddad2",
     "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa"
     "8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662",
     "76fc6ece0f4e1768cddf8853bb2d551b"},
};

void PrintTo(const GcmVector& vector, std::ostream* out) {
  *out << vector.name;
}

class GcmKnownAnswerTest : public ::testing::TestWithParam<GcmVector> {};

TEST_P(GcmKnownAnswerTest, EncryptsAndDecrypts) {
  const GcmVector& v = GetParam();
  const auto sealed =
      crypto::aesGcmEncrypt(hex(v.key), hex(v.nonce), hex(v.plaintext), hex(v.associatedData));
  ASSERT_TRUE(sealed.has_value());
  EXPECT_EQ(hexOf(*sealed), std::string(v.ciphertext) + v.tag);

  const auto opened = crypto::aesGcmDecrypt(hex(v.key), hex(v.nonce), hex(v.ciphertext), hex(v.tag),
                                            hex(v.associatedData));
  ASSERT_TRUE(opened.has_value());
  EXPECT_EQ(hexOf(*opened), v.plaintext);

  Bytes badTag = hex(v.tag);
  badTag[0] ^= 0x01;
  EXPECT_FALSE(crypto::aesGcmDecrypt(hex(v.key), hex(v.nonce), hex(v.ciphertext), badTag,
                                     hex(v.associatedData)));
}

INSTANTIATE_TEST_SUITE_P(GcmSpec, GcmKnownAnswerTest, ::testing::ValuesIn(gcmVectors),
                         [](const auto& info) { return std::string(info.param.name); });

// Expected values computed independently with Python's hmac and hashlib modules
// (HKDF written out from RFC 5869) for the master key 00 01 02 ... 1f.
TEST(FrameKeysTest, DeriveTokenAndTagMatchIndependentComputation) {
  const FrameKeys keys = FrameKeys::derive(masterKeyOf(0));
  EXPECT_EQ(hexOf(keys.sealKey.bytes()),
            "79f01dbf421d4dd3c33051abffca67789e43ab8e2392fdc67bc61346c0cd1615");
  EXPECT_EQ(hexOf(keys.indexKey.bytes()),
            "bb14c201f6ef3ff79850e771bd1ee7caf6b06603b205acf127e4ac7bef11a726");
  EXPECT_EQ(keys.token("p:invoic"), "984c2218f8b37e5b");
  EXPECT_EQ(keys.token(""), "5142253bd6c08620");
  EXPECT_EQ(hexOf(keys.tag("org.mozilla.firefox")), "8c6a44b1bbcb5dadd5809ee1b786bf9b");
}

TEST(FrameKeysTest, SameMasterKeyGivesSameKeysAndDifferentKeyGivesDifferentTokens) {
  const FrameKeys a = FrameKeys::derive(masterKeyOf(0));
  const FrameKeys b = FrameKeys::derive(masterKeyOf(0));
  const FrameKeys other = FrameKeys::derive(masterKeyOf(1));
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.token("p:report"), b.token("p:report"));
  EXPECT_EQ(a.tag("com.example.Mail"), b.tag("com.example.Mail"));
  EXPECT_NE(a.token("p:report"), other.token("p:report"));
  EXPECT_NE(a.sealKey, a.indexKey);
}

// Copies of one FrameKeys share its keyed HMAC; threads tokenizing at once through the original
// and its copies all get the tokens a single thread gets.
TEST(FrameKeysTest, TokensFromManyThreadsAtOnceAreThoseOfOneThread) {
  const FrameKeys keys = FrameKeys::derive(masterKeyOf(0));
  std::vector<std::string> terms;
  std::vector<std::string> expected;
  for (int i = 0; i < 2000; ++i) {
    terms.push_back("p:term" + std::to_string(i));
    expected.push_back(keys.token(terms.back()));
  }
  const std::vector<FrameKeys> copies(4, keys);
  std::vector<std::vector<std::string>> results(8);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < results.size(); ++t) {
    threads.emplace_back([&, t] {
      const FrameKeys& mine = t % 2 == 0 ? keys : copies[t / 2];
      for (const std::string& term : terms) {
        results[t].push_back(mine.token(term));
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (const auto& result : results) {
    EXPECT_EQ(result, expected);
  }
  EXPECT_EQ(keys.token("p:invoic"), FrameKeys::derive(masterKeyOf(0)).token("p:invoic"));
}

TEST(FrameKeysTest, GenerateKeyGivesFreshRandomKeys) {
  const MasterKey first = generateKey();
  const MasterKey second = generateKey();
  EXPECT_EQ(first.bytes().size(), 32u);
  EXPECT_NE(first, second);
}

TEST(FrameKeysTest, EmptyPlaintextSealsTo28Bytes) {
  const FrameKeys keys = FrameKeys::derive(generateKey());
  const Bytes blob = keys.seal({}, "check");
  EXPECT_EQ(blob.size(), 28u);
  EXPECT_TRUE(keys.unseal(blob, "check").empty());
}

TEST(FrameKeysTest, BlobIsNonceThenCiphertextThenTag) {
  const FrameKeys keys = FrameKeys::derive(masterKeyOf(7));
  const Bytes plaintext = bytesOf("Invoice #4471");
  const Bytes blob = keys.seal(plaintext, "frame:3:meta");
  ASSERT_EQ(blob.size(), plaintext.size() + 28);

  const crypto::ByteView view(blob);
  const auto opened = crypto::aesGcmDecrypt(keys.sealKey.bytes(), view.first(12),
                                            view.subspan(12, plaintext.size()), view.last(16),
                                            bytesOf("frame:3:meta"));
  ASSERT_TRUE(opened.has_value());
  EXPECT_EQ(*opened, plaintext);
}

TEST(FrameKeysTest, SealingTwiceGivesDifferentBlobsThatBothOpen) {
  const FrameKeys keys = FrameKeys::derive(generateKey());
  const Bytes plaintext = bytesOf("same text");
  const Bytes first = keys.seal(plaintext, "frame:1:meta");
  const Bytes second = keys.seal(plaintext, "frame:1:meta");
  EXPECT_NE(first, second);
  EXPECT_EQ(keys.unseal(first, "frame:1:meta"), plaintext);
  EXPECT_EQ(keys.unseal(second, "frame:1:meta"), plaintext);
}

TEST(FrameKeysTest, WrongContextOrKeyFailsAsDamaged) {
  const FrameKeys keys = FrameKeys::derive(masterKeyOf(0));
  const FrameKeys otherKeys = FrameKeys::derive(masterKeyOf(1));
  const Bytes blob = keys.seal(bytesOf("{\"appName\":\"Mail\"}"), sealContext::frameMeta(7));
  EXPECT_EQ(keys.unseal(blob, sealContext::frameMeta(7)), bytesOf("{\"appName\":\"Mail\"}"));
  expectDamaged([&] { keys.unseal(blob, sealContext::frameThumb(7)); });
  expectDamaged([&] { keys.unseal(blob, sealContext::frameMeta(8)); });
  expectDamaged([&] { keys.unseal(blob, ""); });
  expectDamaged([&] { otherKeys.unseal(blob, sealContext::frameMeta(7)); });
}

TEST(FrameKeysTest, EveryFlippedBitFailsAsDamaged) {
  const FrameKeys keys = FrameKeys::derive(generateKey());
  const Bytes blob = keys.seal(bytesOf("hello"), "check");
  for (std::size_t bit = 0; bit < blob.size() * 8; ++bit) {
    Bytes altered = blob;
    altered[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    SCOPED_TRACE("bit " + std::to_string(bit));
    expectDamaged([&] { keys.unseal(altered, "check"); });
  }
}

TEST(FrameKeysTest, BlobsShorterThan28BytesFailAsDamaged) {
  const FrameKeys keys = FrameKeys::derive(generateKey());
  const Bytes blob = keys.seal({}, "check");
  for (std::size_t length = 0; length < 28; ++length) {
    SCOPED_TRACE("length " + std::to_string(length));
    expectDamaged([&] { keys.unseal(Bytes(blob.begin(), blob.begin() + length), "check"); });
  }
  const Bytes longer(40, 0);
  expectDamaged([&] { keys.unseal(longer, "check"); });
}

TEST(FrameKeysTest, TokensAreSixteenLowercaseHexCharacters) {
  const FrameKeys keys = FrameKeys::derive(generateKey());
  std::set<std::string> tokens;
  for (const char* term : {"", "p:a", "p:invoic", "p:größe", "p:日本語", "p:🙂", "tag:x"}) {
    const std::string token = keys.token(term);
    SCOPED_TRACE(term);
    ASSERT_EQ(token.size(), 16u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
    tokens.insert(token);
  }
  EXPECT_EQ(tokens.size(), 7u);
}

TEST(FrameKeysTest, TagIsTheTokenOfTagPrefixWidenedTo16Bytes) {
  const FrameKeys keys = FrameKeys::derive(generateKey());
  for (const char* bundleID : {"org.mozilla.firefox", "", "Ünïcode App"}) {
    SCOPED_TRACE(bundleID);
    const Bytes tag = keys.tag(bundleID);
    ASSERT_EQ(tag.size(), 16u);
    EXPECT_EQ(hexOf(crypto::ByteView(tag).first(8)), keys.token(std::string("tag:") + bundleID));
    EXPECT_NE(hexOf(crypto::ByteView(tag).first(8)), keys.token(bundleID));
  }
}

TEST(FrameKeysTest, ContextStrings) {
  EXPECT_EQ(sealContext::check, "check");
  EXPECT_EQ(sealContext::frameMeta(17), "frame:17:meta");
  EXPECT_EQ(sealContext::frameThumb(17), "frame:17:thumb");
  EXPECT_EQ(sealContext::frameImage(9000000000), "frame:9000000000:image");
  const Bytes tag = hex("8c6a44b1bbcb5dadd5809ee1b786bf9b");
  EXPECT_EQ(sealContext::app(tag), "app:jGpEsbvLXa3VgJ7ht4a/mw==");
}

// RFC 4648, section 10.
TEST(Base64Test, MatchesRfc4648TestVectors) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [input, expected] : cases) {
    EXPECT_EQ(base64Encode(bytesOf(input)), expected) << input;
  }
  EXPECT_EQ(base64Encode(Bytes{0xfb, 0xff}), "+/8=");
}

TEST(VistrelCryptoErrorTest, DescriptionsAndEquality) {
  EXPECT_STREQ(VistrelCryptoError::keychain(-25300).what(), "Keyring error -25300.");
  EXPECT_STREQ(VistrelCryptoError::wrongKey().what(),
               "The history was locked with a different key (the keyring entry or key file is "
               "missing or replaced).");
  EXPECT_STREQ(VistrelCryptoError::damaged().what(), "A stored frame failed its integrity check.");
  EXPECT_EQ(VistrelCryptoError::wrongKey(), VistrelCryptoError::wrongKey());
  EXPECT_EQ(VistrelCryptoError::keychain(-1), VistrelCryptoError::keychain(-1));
  EXPECT_FALSE(VistrelCryptoError::keychain(-1) == VistrelCryptoError::keychain(-2));
  EXPECT_FALSE(VistrelCryptoError::wrongKey() == VistrelCryptoError::damaged());
}

}  // namespace
}  // namespace vistrel
