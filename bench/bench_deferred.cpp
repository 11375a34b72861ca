// Cost of the deferred-result handle against std::promise/std::future doing
// the same work (create, register the consumer, settle, deliver the values).

#include "Deferred.h"

#include <QJsonValue>

#include <benchmark/benchmark.h>

#include <future>
#include <iostream>
#include <map>
#include <utility>
#include <vector>

namespace {

const QJsonValue kBody(QStringLiteral("body"));

void DeferredCreateDoneResolve(benchmark::State& state)
{
    int sum = 0;
    for (auto _ : state) {
        Deferred<int, QJsonValue> d;
        d.done([&sum](int code, const QJsonValue&) { sum += code; });
        d.resolve(200, kBody);
    }
    benchmark::DoNotOptimize(sum);
}
BENCHMARK(DeferredCreateDoneResolve);

void PromiseCreateSetGet(benchmark::State& state)
{
    int sum = 0;
    for (auto _ : state) {
        std::promise<std::pair<int, QJsonValue>> p;
        std::future<std::pair<int, QJsonValue>> f = p.get_future();
        p.set_value({ 200, kBody });
        sum += f.get().first;
    }
    benchmark::DoNotOptimize(sum);
}
BENCHMARK(PromiseCreateSetGet);

void DeferredThenAliasChain3(benchmark::State& state)
{
    int sum = 0;
    const std::function<Deferred<int>(int)> step = [](int v) {
        Deferred<int> next;
        next.resolve(v + 1);
        return next;
    };
    for (auto _ : state) {
        Deferred<int> first;
        Deferred<int> last = first.thenAlias<int>(step).thenAlias<int>(step).thenAlias<int>(step);
        last.done([&sum](int v) { sum += v; });
        first.resolve(1);
    }
    benchmark::DoNotOptimize(sum);
}
BENCHMARK(DeferredThenAliasChain3);

// The same chain with steps whose results come later, as a device reply does: each
// link then registers on the step's handle.
void DeferredThenAliasChain3Later(benchmark::State& state)
{
    int sum = 0;
    std::vector<std::pair<Deferred<int>, int>> later;
    const std::function<Deferred<int>(int)> step = [&later](int v) {
        Deferred<int> next;
        later.emplace_back(next, v + 1);
        return next;
    };
    for (auto _ : state) {
        Deferred<int> first;
        Deferred<int> last = first.thenAlias<int>(step).thenAlias<int>(step).thenAlias<int>(step);
        last.done([&sum](int v) { sum += v; });
        first.resolve(1);
        while (!later.empty()) {
            const auto [next, value] = later.back();
            later.pop_back();
            next.resolve(value);
        }
    }
    benchmark::DoNotOptimize(sum);
}
BENCHMARK(DeferredThenAliasChain3Later);

void PromiseChain3(benchmark::State& state)
{
    int sum = 0;
    for (auto _ : state) {
        std::promise<int> p0, p1, p2, p3;
        auto f0 = p0.get_future(), f1 = p1.get_future(), f2 = p2.get_future(), f3 = p3.get_future();
        p0.set_value(1);
        p1.set_value(f0.get() + 1);
        p2.set_value(f1.get() + 1);
        p3.set_value(f2.get() + 1);
        sum += f3.get();
    }
    benchmark::DoNotOptimize(sum);
}
BENCHMARK(PromiseChain3);

void DeferredWhen4(benchmark::State& state)
{
    int resolved = 0;
    for (auto _ : state) {
        QList<Deferred<QString>> members { Deferred<QString>(), Deferred<QString>(), Deferred<QString>(),
            Deferred<QString>() };
        Deferred<> all = Deferred<>::when(members);
        all.done([&resolved] { ++resolved; });
        for (const Deferred<QString>& m : members)
            m.resolve(QString());
    }
    benchmark::DoNotOptimize(resolved);
}
BENCHMARK(DeferredWhen4);

void PromiseWhen4(benchmark::State& state)
{
    int resolved = 0;
    for (auto _ : state) {
        std::promise<QString> p[4];
        std::future<QString> f[4];
        for (int i = 0; i < 4; ++i)
            f[i] = p[i].get_future();
        for (auto& promise : p)
            promise.set_value(QString());
        for (auto& future : f)
            future.get();
        ++resolved;
    }
    benchmark::DoNotOptimize(resolved);
}
BENCHMARK(PromiseWhen4);

// Keeps each benchmark's time per iteration so the ratios can be printed.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            m_nsPerIteration[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void printRatio(const std::string& what, const std::string& base) const
    {
        auto a = m_nsPerIteration.find(what), b = m_nsPerIteration.find(base);
        if (a == m_nsPerIteration.end() || b == m_nsPerIteration.end() || b->second <= 0)
            return;
        std::cout << what << " / " << base << " = " << a->second / b->second << "x\n";
    }

private:
    std::map<std::string, double> m_nsPerIteration;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatio("DeferredCreateDoneResolve", "PromiseCreateSetGet");
    reporter.printRatio("DeferredThenAliasChain3", "PromiseChain3");
    reporter.printRatio("DeferredThenAliasChain3Later", "PromiseChain3");
    reporter.printRatio("DeferredWhen4", "PromiseWhen4");
    benchmark::Shutdown();
    return 0;
}
