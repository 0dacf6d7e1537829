// A frame of 10,000 small draws from user memory with state changes between them, the way
// effects draw sprites: CPU time per draw, GL calls per draw, program cache hit rate and the
// number of generated programs. The references are the same quads drawn in one call and the
// same draws without state changes, measured in the same run. Google Benchmark benchmarks
// (one iteration is one frame; the time is the submission from BeginScene to EndScene):
// frame/draws_with_changes, frame/one_batched_call, frame/draws_no_changes. After the report
// it prints the figures and "ratio gpu_draw_per_quad_vs_batched" and "ratio
// gpu_state_changes_vs_none" (time of the per-draw frame over each reference).
// Run headless with SDL_VIDEODRIVER=offscreen.
#include "bench/bench_results.h"
#include "platform/gpu/gpu.h"

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

struct Vertex {
    float x, y, z, rhw;
    uint32_t color;
    float u, v;
};
constexpr uint32_t kFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
constexpr int kDraws = 10000;
constexpr uint32_t kSize = 640;

void quad(Vertex* v, int i) {
    float x = float((i * 7) % 620), y = float((i * 13) % 460);
    uint32_t c = 0xFF000000u | uint32_t(i * 2654435761u >> 8);
    Vertex q[6] = {{x, y, 0.5f, 1, c, 0, 0},           {x + 16, y, 0.5f, 1, c, 1, 0},
                   {x, y + 16, 0.5f, 1, c, 0, 1},      {x + 16, y, 0.5f, 1, c, 1, 0},
                   {x + 16, y + 16, 0.5f, 1, c, 1, 1}, {x, y + 16, 0.5f, 1, c, 0, 1}};
    for (int k = 0; k < 6; ++k)
        v[k] = q[k];
}

double seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One frame of per-quad draws; the state changes cycle through a few combinations.
double drawFrame(GpuDevice* device, GpuTexture* textures[2], const std::vector<Vertex>& vertices,
                 bool changes = true) {
    std::vector<uint32_t> sync;
    GpuSurface* back = nullptr;
    device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back);
    double start = seconds();
    device->BeginScene();
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1, 0);
    device->SetVertexShader(kFvf);
    for (int i = 0; i < kDraws; ++i) {
        if (!changes) {
            device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, &vertices[size_t(i) * 6],
                                    sizeof(Vertex));
            continue;
        }
        device->SetTexture(0, (i % 3) ? textures[i & 1] : nullptr);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, (i >> 1) & 1);
        device->SetRenderState(D3DRS_SRCBLEND, (i & 4) ? D3DBLEND_SRCALPHA : D3DBLEND_ONE);
        device->SetRenderState(D3DRS_DESTBLEND, (i & 4) ? D3DBLEND_INVSRCALPHA : D3DBLEND_ONE);
        device->SetTextureStageState(0, D3DTSS_COLOROP, (i & 8) ? D3DTOP_ADD : D3DTOP_MODULATE);
        device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, &vertices[size_t(i) * 6], sizeof(Vertex));
    }
    device->EndScene();
    double submitted = seconds() - start;
    device->ReadSurface(back, &sync);
    back->Release();
    return submitted;
}

double drawBatched(GpuDevice* device, const std::vector<Vertex>& vertices) {
    double start = seconds();
    device->BeginScene();
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1, 0);
    device->SetVertexShader(kFvf);
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2 * kDraws, vertices.data(), sizeof(Vertex));
    device->EndScene();
    return seconds() - start;
}

struct Scene {
    GpuDevice* device = nullptr;
    GpuTexture* textures[2] = {};
    std::vector<Vertex> vertices;
};

void present(GpuDevice* device) {
    device->Present(nullptr, nullptr, nullptr, nullptr);
}

void registerBenchmarks(Scene* scene) {
    benchmark::RegisterBenchmark("frame/draws_with_changes", [scene](benchmark::State& state) {
        GpuFrameStats stats;
        for (auto _ : state) {
            state.SetIterationTime(drawFrame(scene->device, scene->textures, scene->vertices));
            present(scene->device);
            stats = scene->device->GetFrameStats();
        }
        state.counters["gl_calls_per_draw"] = double(stats.glCalls) / kDraws;
        state.counters["state_changes_per_draw"] = double(stats.stateChanges) / kDraws;
        state.counters["program_hit_rate"] =
            stats.shaderLookups ? double(stats.shaderCacheHits) / stats.shaderLookups : 0.0;
        state.counters["programs_compiled"] = stats.shaderCompiles;
        state.counters["programs_in_cache"] = scene->device->GetShaderCount();
        state.counters["draws"] =
            benchmark::Counter(double(state.iterations()) * kDraws, benchmark::Counter::kIsRate);
    })->UseManualTime();
    benchmark::RegisterBenchmark("frame/one_batched_call", [scene](benchmark::State& state) {
        for (auto _ : state) {
            state.SetIterationTime(drawBatched(scene->device, scene->vertices));
            present(scene->device);
        }
        state.counters["draws"] =
            benchmark::Counter(double(state.iterations()) * kDraws, benchmark::Counter::kIsRate);
    })->UseManualTime();
    benchmark::RegisterBenchmark("frame/draws_no_changes", [scene](benchmark::State& state) {
        for (auto _ : state) {
            state.SetIterationTime(
                drawFrame(scene->device, scene->textures, scene->vertices, false));
            present(scene->device);
        }
        state.counters["draws"] =
            benchmark::Counter(double(state.iterations()) * kDraws, benchmark::Counter::kIsRate);
    })->UseManualTime();
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args = withDefaultFlags(argc, argv, {"--benchmark_min_time=0.5"});
    int count = int(args.size()) - 1;
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

    GpuSystem* system = gpuCreate();
    if (!system) return fprintf(stderr, "gpu_bench: no video driver\n"), 1;
    D3DPRESENT_PARAMETERS params;
    params.BackBufferWidth = kSize;
    params.BackBufferHeight = 480;
    params.BackBufferFormat = D3DFMT_X8R8G8B8;
    params.Windowed = true;
    params.FullScreen_PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    Scene scene;
    if (system->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                             &params, &scene.device) != D3D_OK)
        return fprintf(stderr, "gpu_bench: no device\n"), 1;
    GpuDevice* device = scene.device;
    device->SetRenderState(D3DRS_LIGHTING, 0);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    for (GpuTexture*& t : scene.textures)
        device->CreateTexture(16, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t);
    scene.vertices.resize(size_t(kDraws) * 6);
    for (int i = 0; i < kDraws; ++i)
        quad(&scene.vertices[size_t(i) * 6], i);

    drawFrame(device, scene.textures, scene.vertices); // warm-up: programs are built here
    present(device);

    registerBenchmarks(&scene);
    ResultCollector collector;
    runBenchmarks(collector);

    const BenchResult* perDraw = findResult(collector, "frame/draws_with_changes");
    const BenchResult* batched = findResult(collector, "frame/one_batched_call");
    const BenchResult* unchanged = findResult(collector, "frame/draws_no_changes");
    printf("draws per frame          %d\n", kDraws);
    if (perDraw) {
        printf("cpu time per draw        %.3f us\n", perDraw->realSeconds / kDraws * 1e6);
        printf("gl calls per draw        %.2f\n", counterOf(*perDraw, "gl_calls_per_draw"));
        printf("state changes per draw   %.2f\n", counterOf(*perDraw, "state_changes_per_draw"));
        printf("program cache hit rate   %.4f\n", counterOf(*perDraw, "program_hit_rate"));
        printf("programs compiled/frame  %.0f\n", counterOf(*perDraw, "programs_compiled"));
        printf("programs in cache        %.0f\n", counterOf(*perDraw, "programs_in_cache"));
    }
    if (batched) printf("one batched call         %.3f ms\n", batched->realSeconds * 1e3);
    if (unchanged)
        printf("same draws, no changes   %.3f us per draw\n",
               unchanged->realSeconds / kDraws * 1e6);
    if (perDraw && batched)
        printf("ratio gpu_draw_per_quad_vs_batched %.2f\n",
               perDraw->realSeconds / batched->realSeconds);
    if (perDraw && unchanged)
        printf("ratio gpu_state_changes_vs_none %.2f\n",
               perDraw->realSeconds / unchanged->realSeconds);
    for (GpuTexture* t : scene.textures)
        t->Release();
    device->Release();
    system->Release();
    return collector.errors.empty() && perDraw && batched && unchanged ? 0 : 1;
}
