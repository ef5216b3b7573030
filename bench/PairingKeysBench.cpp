// What pairing costs before the first TLS byte: both ends derive their keys from the code (one
// PBKDF2 run of 200,000 iterations, two HKDF runs), then each makes a self-signed certificate.
#include "net/channel/PairingKeys.h"
#include "net/channel/PairingOffer.h"
#include "net/channel/SelfSignedCertificate.h"

#include <benchmark/benchmark.h>

using TessaloyNet::P256PrivateKey;
using TessaloyNet::PairingCode;
using TessaloyNet::PairingKeys;
using TessaloyNet::PairingOffer;
using TessaloyNet::SelfSignedCertificate;

static void pairingKeyDerivation(benchmark::State& state) {
    const PairingOffer offer(PairingCode::random(), {});
    for (auto _ : state) {
        benchmark::DoNotOptimize(PairingKeys::derive(offer.code, offer.salt));
    }
}
BENCHMARK(pairingKeyDerivation)->Unit(benchmark::kMillisecond);

static void pairingSeedOnly(benchmark::State& state) {
    const PairingOffer offer(PairingCode::random(), {});
    for (auto _ : state) {
        benchmark::DoNotOptimize(PairingKeys::seed(offer.code, offer.salt));
    }
}
BENCHMARK(pairingSeedOnly)->Unit(benchmark::kMillisecond);

static void pairingIdentityFromSeed(benchmark::State& state) {
    const TessaloyCore::Bytes seed(PairingKeys::seedBytes, 0x5A);
    for (auto _ : state) {
        benchmark::DoNotOptimize(PairingKeys::identity(seed, PairingKeys::macInfo));
    }
}
BENCHMARK(pairingIdentityFromSeed)->Unit(benchmark::kMicrosecond);

static void selfSignedCertificate(benchmark::State& state) {
    const P256PrivateKey key = P256PrivateKey::generate();
    for (auto _ : state) {
        benchmark::DoNotOptimize(SelfSignedCertificate(key, "Studio"));
    }
}
BENCHMARK(selfSignedCertificate)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
