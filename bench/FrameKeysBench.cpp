#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "VistrelKit/keys/CryptoPrimitives.h"
#include "VistrelKit/keys/FrameKeys.h"

namespace {

using vistrel::Bytes;
using vistrel::FrameKeys;

const FrameKeys& benchKeys() {
  static const FrameKeys keys = FrameKeys::derive(vistrel::generateKey());
  return keys;
}

// A text-heavy screen yields a few thousand distinct index terms, each hashed once.
void BM_Token(benchmark::State& state) {
  std::vector<std::string> terms;
  for (int i = 0; i < 1000; ++i) {
    terms.push_back("p:term" + std::to_string(i));
  }
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(benchKeys().token(terms[next++ % terms.size()]));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Token);

// The same HMAC keyed afresh for every message, as tokens were computed before FrameKeys kept a
// keyed context: the difference is what keying once saves per token.
void BM_HmacKeyedPerMessage(benchmark::State& state) {
  const auto& key = benchKeys().indexKey.bytes();
  const std::string term = "p:invoic";
  const vistrel::crypto::ByteView message(reinterpret_cast<const std::uint8_t*>(term.data()),
                                          term.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(vistrel::crypto::hmacSha256(key, message));
  }
}
BENCHMARK(BM_HmacKeyedPerMessage);

void BM_HmacKeyedOnce(benchmark::State& state) {
  const vistrel::crypto::HmacSha256 mac(benchKeys().indexKey.bytes());
  const std::string term = "p:invoic";
  const vistrel::crypto::ByteView message(reinterpret_cast<const std::uint8_t*>(term.data()),
                                          term.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(mac.mac(message));
  }
}
BENCHMARK(BM_HmacKeyedOnce);

// Sealing and opening a frame image of the given size.
void BM_SealAndUnseal(benchmark::State& state) {
  const Bytes image(static_cast<std::size_t>(state.range(0)), 0x5a);
  for (auto _ : state) {
    const Bytes blob = benchKeys().seal(image, "frame:1:image");
    benchmark::DoNotOptimize(benchKeys().unseal(blob, "frame:1:image"));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SealAndUnseal)->Arg(4 << 10)->Arg(400 << 10);

void BM_Derive(benchmark::State& state) {
  const vistrel::MasterKey key = vistrel::generateKey();
  for (auto _ : state) {
    benchmark::DoNotOptimize(FrameKeys::derive(key));
  }
}
BENCHMARK(BM_Derive);

}  // namespace
