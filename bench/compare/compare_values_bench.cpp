#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <random>
#include <vector>

#include "DifferenceLines.h"
#include "ValueRules.h"
#include "ValueText.h"

using data::DateTimeValue;
using data::FieldValue;

namespace {

constexpr int kPairs = 1'000'000;

// A million pairs in the mix a comparison of typical tables meets: mostly
// equal values, integers and texts most often, some cross-kind numbers.
struct MixedPairs {
    std::vector<QString> texts;
    std::vector<QByteArray> bytes;
    std::vector<std::pair<FieldValue, FieldValue>> pairs;

    MixedPairs() {
        std::mt19937_64 rng(42);
        texts.reserve(2 * kPairs);
        bytes.reserve(2 * kPairs);
        pairs.reserve(kPairs);
        for (int i = 0; i < kPairs; ++i) {
            const bool same = rng() % 10 != 0;
            const std::int64_t n = static_cast<std::int64_t>(rng() % 1'000'000'000);
            const std::int64_t m = same ? n : n + 1;
            switch (rng() % 20) {
                case 0:
                case 1:
                case 2:
                case 3:
                case 4:
                case 5:
                    pairs.emplace_back(FieldValue::integer(n), FieldValue::integer(m));
                    break;
                case 6:
                case 7:
                    pairs.emplace_back(FieldValue::decimal(n, 2), FieldValue::decimal(m * 100, 4));
                    break;
                case 8:
                    pairs.emplace_back(FieldValue::currency(n * 100), FieldValue::decimal(m, 2));
                    break;
                case 9:
                case 10:
                    pairs.emplace_back(FieldValue::floating(n / 8.0),
                                       FieldValue::floating(m / 8.0));
                    break;
                case 11:
                    pairs.emplace_back(FieldValue::floating(n / 100.0), FieldValue::decimal(m, 2));
                    break;
                case 12:
                case 13:
                case 14:
                case 15: {
                    texts.push_back(QStringLiteral("Customer name %1 street").arg(n));
                    texts.push_back(QStringLiteral("Customer name %1 street").arg(m));
                    pairs.emplace_back(FieldValue::text(texts[texts.size() - 2]),
                                       FieldValue::text(texts.back()));
                    break;
                }
                case 16:
                case 17: {
                    const DateTimeValue a{738'000 + static_cast<std::int32_t>(n % 3000), n * 1000,
                                          DateTimeValue::HasDate | DateTimeValue::HasTime};
                    DateTimeValue b = a;
                    b.ticks = m * 1000;
                    pairs.emplace_back(FieldValue::dateTime(a), FieldValue::dateTime(b));
                    break;
                }
                case 18: {
                    bytes.push_back(QByteArray::number(static_cast<qlonglong>(n)).repeated(2));
                    bytes.push_back(QByteArray::number(static_cast<qlonglong>(m)).repeated(2));
                    pairs.emplace_back(FieldValue::bytes(bytes[bytes.size() - 2]),
                                       FieldValue::bytes(bytes.back()));
                    break;
                }
                default:
                    pairs.emplace_back(FieldValue(), same ? FieldValue() : FieldValue::integer(n));
                    break;
            }
        }
    }
};

const MixedPairs& Pairs() {
    static const MixedPairs pairs;
    return pairs;
}

void BM_ValuesDifferMixedMillion(benchmark::State& state) {
    const auto& pairs = Pairs().pairs;
    for (auto _ : state) {
        int differing = 0;
        for (const auto& [a, b] : pairs) differing += compare::ValuesDiffer(a, b) ? 1 : 0;
        benchmark::DoNotOptimize(differing);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(pairs.size()));
}
BENCHMARK(BM_ValuesDifferMixedMillion)->Unit(benchmark::kMillisecond);

// The line text of a changed field for the same mix, as when every value differs.
void BM_FieldChangedLineMixed(benchmark::State& state) {
    const auto& pairs = Pairs().pairs;
    const compare::ValueFormatter formatter(QLocale(QLocale::German, QLocale::Germany));
    const std::size_t count = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        qsizetype chars = 0;
        for (std::size_t i = 0; i < count; ++i) {
            chars += compare::FieldChangedLine(static_cast<std::int64_t>(i) + 1, u"Column",
                                               pairs[i].first, pairs[i].second, formatter)
                         .size();
        }
        benchmark::DoNotOptimize(chars);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FieldChangedLineMixed)->Arg(100'000)->Unit(benchmark::kMillisecond);

}  // namespace
