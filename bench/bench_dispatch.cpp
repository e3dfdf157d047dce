// Throughput of the receiver and the dispatcher: bytes handed to CConsoleDlg::OnCommRxChar in
// chunks of 80 (as the channel's reader hands them over), through the link state machine, the BCC
// check, the ACK write, the dispatcher and the decoders into the panes, on a host that never
// allocates and a channel that writes nowhere.
//
// This program replaces the global operator new and delete to count heap allocations. Before the
// timed benchmarks it prints an allocation audit: allocations per received byte and per frame for
// each kind of traffic, first with panes that grow without limit (amortized growth of the pane
// strings included), then with panes cleared by the operator now and then (no growth).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "bench_support.h"

namespace {
std::atomic<uint64_t> g_allocations{0};
std::atomic<uint64_t> g_allocatedBytes{0};
}  // namespace

// The replacements hand out malloc's memory and give it back with free; GCC cannot see that the
// two belong together once they are inlined into each other.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    g_allocatedBytes.fetch_add(size, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& t) noexcept { return operator new(size, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

using namespace kalvor;
using namespace kalvor::bench;

namespace {

// A console on the bench host with a null channel, its port open, page "MENU" shown.
struct Rig {
    Rig() {
        auto channel = std::make_unique<NullChannel>();
        null = channel.get();
        dlg = std::make_unique<CConsoleDlg>(host, profile, std::move(channel), ConsoleOptions{});
        host.Attach(dlg.get());
        dlg->OnInitDialog();
        host.RunPosted();
        dlg->Controls().SetTabSelection(1);
        dlg->OnSelChangeTab();
    }
    // The stream in chunks of 80 bytes.
    void Feed(const Bytes& stream) {
        for (size_t i = 0; i < stream.size(); i += 80) {
            const size_t n = std::min<size_t>(80, stream.size() - i);
            host.Deliver(stream.data() + i, static_cast<uint16_t>(n));
        }
    }
    void ClearPanes() {
        dlg->Controls().UserSetText(1003, std::string());
        dlg->Controls().UserSetText(1004, std::string());
    }

    BenchHost host;
    NullProfile profile;
    NullChannel* null = nullptr;
    std::unique_ptr<CConsoleDlg> dlg;
};

struct Traffic {
    const char* name;
    Bytes unit;       // one repetition
    unsigned frames;  // frames (good and unfinished) per repetition
};

Bytes Repeat(const Bytes& unit, size_t times) {
    Bytes out;
    out.reserve(unit.size() * times);
    for (size_t i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Noise: bytes outside any frame (never SOH), the per-byte path alone.
Traffic Noise() { return {"noise outside frames", Bytes(80, 0x55), 0}; }
// "STATUS" answers: a Status pane line and the sensor check boxes each.
Traffic StatusAnswers() { return {"STATUS answers", Response('F', {'0', 0x00, 0x41, 0x02}), 1}; }
// Dispense answers ('E', 14 bytes): totals and counts.
Traffic DispenseAnswers() {
    return {"dispense answers", Response('E', {'0', '5', '0', '5', '1', '0', '0', '0'}), 1};
}
// A dispense cycle as the module sends it: ACK, two reject notices (shown raw as hexadecimal in
// the Message pane), the answer.
Traffic DispenseCycles() {
    return {"ACK, 2 notices, answer",
            Cat({{ACK}, {SOH, 0x9C, '<'}, {SOH, 0x9C, '0'}, Response('E', {'0', '5', '0', '5', '1', '0', '0', '2'})}),
            3};
}
// "BILL LEN" answers: six values, RVDT and SUM appended to the Message pane.
Traffic BillLengthAnswers() {
    return {"BILL LEN answers", Response('g', {66, 66, 67, 65, 66, 66, '0', '1', '0', '1', '8', '0'}), 1};
}

// One answer for each of the other decoders, the ROM version's last.
Traffic EveryOtherDecoder() {
    Bytes bits(80, '0');
    return {"one of every other decoder",
            Cat({Response('D', {'0'}), Response(0x60, {'1'}), Response('i', {'1'}), Response('b', {'0', '9', '6', '0'}),
                 Response('k', {0x7F, 0x80, 0x81, 0x7E, 0x82, 0x80, 0x80, 0x80, 0x83, 0x7D}),
                 Response('p', {'0', '2', '0', '0', '0', '1', '?', '0'}),
                 Response('q', {0x80, 0x81, 0x82, 0x83, 0x84, 0x7F, 0x7E, 0x7D, 0x7C, 0x80, 0x80, 0x80}),
                 Response('r', {'0', '5'}), Response('s', bits), Response('t', {'0'}),
                 Response(0x81, {'1', '?', '0', '2', '0', '0', 66, 66, 0, '0', '0', '0', '0', '0', '0', 68, 68, 0}),
                 Response(0x82, {'0', '1', 'F', '4'}), Response('G', {'2', '.', '0', '7', '1', ':', '?', '0'})}),
            13};
}

void Audit(const Traffic& t, size_t repetitions, bool clearPanes) {
    Rig rig;
    const Bytes stream = Repeat(t.unit, 64);
    // Warm up: the first frames size the panes' strings.
    rig.Feed(stream);
    const uint64_t before = g_allocations.load();
    size_t bytes = 0, frames = 0;
    for (size_t r = 0; r < repetitions; r += 64) {
        rig.Feed(stream);
        bytes += stream.size();
        frames += t.frames * 64u;
        if (clearPanes && r % 1024 == 0) rig.ClearPanes();
    }
    const uint64_t allocations = g_allocations.load() - before;
    std::printf("  %-27s %9zu bytes %8zu frames %8llu allocations  %.6f per byte  %.4f per frame\n", t.name, bytes,
                frames, static_cast<unsigned long long>(allocations),
                static_cast<double>(allocations) / static_cast<double>(bytes),
                frames ? static_cast<double>(allocations) / static_cast<double>(frames) : 0.0);
}

void RunAudit() {
    const Traffic kinds[] = {Noise(),          StatusAnswers(),     DispenseAnswers(),
                             DispenseCycles(), BillLengthAnswers(), EveryOtherDecoder()};
    std::printf("Allocation audit (64 repetitions of warm-up first)\n");
    std::printf(" panes growing without limit (100,000 repetitions):\n");
    for (const Traffic& t : kinds) Audit(t, 100000, false);
    std::printf(" panes cleared every 1,024 repetitions (no growth after warm-up):\n");
    for (const Traffic& t : kinds) Audit(t, 100000, true);
    std::printf("\n");
}

// --- Timed benchmarks --------------------------------------------------------------------------

void Throughput(benchmark::State& state, const Traffic& t) {
    Rig rig;
    const Bytes stream = Repeat(t.unit, std::max<size_t>(1, 8000 / t.unit.size()));
    const size_t frames = t.frames * (stream.size() / t.unit.size());
    rig.Feed(stream);
    uint64_t iterations = 0;
    const uint64_t before = g_allocations.load();
    for (auto _ : state) {
        rig.Feed(stream);
        // Keep the panes at a few hundred lines, as an operator clearing them would.
        if (++iterations % 8 == 0) rig.ClearPanes();
    }
    const double allocations = static_cast<double>(g_allocations.load() - before);
    const double n = static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(stream.size()) * state.iterations());
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames) * n, benchmark::Counter::kIsRate);
    state.counters["allocs/byte"] = allocations / (static_cast<double>(stream.size()) * n);
    if (frames) state.counters["allocs/frame"] = allocations / (static_cast<double>(frames) * n);
}

void BM_Noise(benchmark::State& s) { Throughput(s, Noise()); }
void BM_StatusAnswers(benchmark::State& s) { Throughput(s, StatusAnswers()); }
void BM_DispenseAnswers(benchmark::State& s) { Throughput(s, DispenseAnswers()); }
void BM_DispenseCycles(benchmark::State& s) { Throughput(s, DispenseCycles()); }
void BM_BillLengthAnswers(benchmark::State& s) { Throughput(s, BillLengthAnswers()); }
void BM_EveryOtherDecoder(benchmark::State& s) { Throughput(s, EveryOtherDecoder()); }
BENCHMARK(BM_Noise);
BENCHMARK(BM_StatusAnswers);
BENCHMARK(BM_DispenseAnswers);
BENCHMARK(BM_DispenseCycles);
BENCHMARK(BM_BillLengthAnswers);
BENCHMARK(BM_EveryOtherDecoder);

// Time per frame with long panes: both panes hold `lines` lines (38 bytes each) when the run
// starts, or (-1) are filled to their 4 MiB limit, and grow with every frame from there. The data
// exchange passes what changed, so the time must not grow with the panes.
//   kind 0: "STATUS" answers (a Status pane line and 14 check boxes)
//   kind 1: raw frames (a reject notice cut short by the next SOH, shown as hexadecimal)
//   kind 2: unasked good frames (the module's notices, a Message pane line each)
void BM_FrameWithPaneLines(benchmark::State& state) {
    Rig rig;
    const Traffic kinds[] = {StatusAnswers(),
                             {"raw frames", {SOH, 0x9C, '<'}, 1},
                             {"unasked frames", Response(0x9C, {'1'}, 0x9C), 1}};
    const Traffic& t = kinds[state.range(0)];
    const Bytes stream = Repeat(t.unit, std::max<size_t>(1, 8000 / t.unit.size()));
    const size_t frames = t.frames * (stream.size() / t.unit.size());
    const std::string line = "STATUS ERR : 00 SEN0 : 41 SEN1 : 02\r\n";
    const size_t lines = state.range(1) >= 0 ? static_cast<size_t>(state.range(1)) : PaneLog::kDefaultLimit / line.size();
    std::string pane;
    pane.reserve(lines * line.size());
    for (size_t i = 0; i < lines; ++i) pane += line;
    rig.dlg->Controls().UserSetText(1003, pane);
    rig.dlg->Controls().UserSetText(1004, pane);
    rig.Feed(stream);  // the first exchange takes the operator's text into the dialog
    for (auto _ : state) rig.Feed(stream);
    state.SetBytesProcessed(static_cast<int64_t>(stream.size()) * state.iterations());
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["pane KiB"] = static_cast<double>(rig.dlg->Controls().Text(t.frames && state.range(0) == 0 ? 1004 : 1003).size()) / 1024.0;
}
// A fixed number of iterations, so that the panes of the "0 lines" runs stay short (some 6,000 lines).
BENCHMARK(BM_FrameWithPaneLines)->ArgsProduct({{0, 1, 2}, {0, 10000, 100000, -1}})->ArgNames({"kind", "lines"})->Iterations(30);

}  // namespace

int main(int argc, char** argv) {
    RunAudit();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
