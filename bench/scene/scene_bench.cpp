// Scene engine benchmarks, each against a reference measured in the same run:
//  - reading an object scene file (1,000 meshes of 240 vertices) against copying its bytes;
//  - one frame of an object scene of 1,000 cube objects (CPU time of renderScene, draw calls)
//    against a frame that only clears;
//  - one frame of a flat scene of the same 1,000 cubes at the same places (CPU time of
//    renderFlatScene with its per-frame tracks, matrices, light choice and culling, draw calls)
//    against the object-scene frame;
//  - morph blending in vertices per second against copying the same vertex bytes.
#include "bench/bench_results.h"
#include "gfx/device.h"
#include "platform/gpu/gpu.h"
#include "platform/log.h"
#include "scene/render.h"
#include "tests/scene/scene_writer.h"
#include "tests/script/headless_device.h"

#include <chrono>
#include <cstring>
#include <memory>

namespace {

constexpr int32_t kMeshes = 1000, kMeshVertices = 240;
constexpr int32_t kObjects = 1000;
constexpr uint32_t kMorphVertices = 100000;

SceneBytes bigSceneFile() {
    SceneBytes b;
    b.id({0x20000, 2, 0}).null().u32(0).u32(kMeshes);
    std::vector<float> xyz(size_t(kMeshVertices) * 3);
    for (size_t i = 0; i < xyz.size(); ++i)
        xyz[i] = float(i % 17);
    std::vector<uint16_t> indices(static_cast<size_t>(kMeshVertices));
    for (size_t i = 0; i < indices.size(); ++i)
        indices[i] = uint16_t(i);
    for (int32_t m = 0; m < kMeshes; ++m) {
        b.id({0x20000, 3, 0}).name8("mesh" + std::to_string(m)).u32(1);
        b.append(subMeshBytes(1, 1, 0, xyz, {primitiveBytes(1, 1, 4, indices)}));
    }
    return b.u32(0).u32(0);
}

void loadBenchmarks() {
    static SceneBytes file = bigSceneFile();
    benchmark::RegisterBenchmark("load/copy_bytes", [](benchmark::State& state) {
        std::vector<uint8_t> copy(file.bytes.size());
        for (auto _ : state) {
            std::unique_ptr<MemoryStream> s(file.stream());
            s->read(copy.data(), int32_t(copy.size()));
            benchmark::DoNotOptimize(copy.data());
        }
        state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.bytes.size()));
    });
    benchmark::RegisterBenchmark("load/object_scene", [](benchmark::State& state) {
        for (auto _ : state) {
            std::unique_ptr<MemoryStream> s(file.stream());
            std::string error;
            gledScene* scene = readObjectScene(s.get(), &error);
            if (!scene) state.SkipWithError(error.c_str());
            delete scene;
        }
        state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.bytes.size()));
    });
}

// 1,000 objects sharing one cube mesh of 8 vertices and 12 triangles.
gledScene* cubeScene() {
    static const float corners[] = {-1, -1, -1, 1, -1, -1, -1, 1, -1, 1, 1, -1,
                                    -1, -1, 1,  1, -1, 1,  -1, 1, 1,  1, 1, 1};
    static const uint16_t faces[] = {0, 2, 1, 1, 2, 3, 4, 5, 6, 5, 7, 6, 0, 1, 4, 1, 5, 4,
                                     2, 6, 3, 3, 6, 7, 0, 4, 2, 2, 4, 6, 1, 3, 5, 3, 7, 5};
    SceneBytes b;
    b.id({0x20000, 2, 0}).null().u32(1).append(materialBytes("grey", {}));
    b.u32(1).id({0x20000, 3, 0}).name8("cube").u32(1);
    b.append(subMeshBytes(0, 0, 0, std::vector<float>(corners, corners + 24),
                          {primitiveBytes(0, 0, 4, std::vector<uint16_t>(faces, faces + 36))}));
    b.u32(kObjects + 1);
    for (int32_t i = 0; i < kObjects; ++i) {
        D3DMATRIX m;
        m.m[0][0] = m.m[1][1] = m.m[2][2] = 0.05f;
        m.m[3][0] = float(i % 40) * 0.2f - 4;
        m.m[3][1] = float(i / 40) * 0.2f - 2.5f;
        m.m[3][2] = 8;
        b.append(itemHead({0x20000, 4, 0}, -1, m, "o")).u8(1).u32(0);
    }
    b.append(itemHead({0x20000, 5, 0}, -1, D3DMATRIX{}, "light")).u32(3);
    b.floats({1, 1, 1, 0, 0, 0, 100, 0, 1, 0, 0, 0, 0});
    b.u32(0);
    std::unique_ptr<MemoryStream> s(b.stream());
    std::string error;
    return readObjectScene(s.get(), &error);
}

// The same 1,000 cubes as a flat scene: one mesh, objects with constant tracks (scale 0.05),
// one light, a camera at the origin with zoom 1 (the object scene's fixed projection).
FlatScene* flatCubeScene() {
    static const float corners[] = {-1, -1, -1, 1, -1, -1, -1, 1, -1, 1, 1, -1,
                                    -1, -1, 1,  1, -1, 1,  -1, 1, 1,  1, 1, 1};
    static const uint16_t faces[] = {0, 2, 1, 1, 2, 3, 4, 5, 6, 5, 7, 6, 0, 1, 4, 1, 5, 4,
                                     2, 6, 3, 3, 6, 7, 0, 4, 2, 2, 4, 6, 1, 3, 5, 3, 7, 5};
    SceneBytes b;
    b.u32(0).u32(1).u32(1).u32(8).u32(D3DFVF_XYZ).u32(sizeof corners);
    for (float v : corners)
        b.f32(v);
    b.u32(0x808080).u32(0).u32(0).u32(1).u32(0).u32(1).u32(4).u32(36);
    for (uint16_t i : faces)
        b.u16(i);
    b.floats({-1, -1, -1, 1, 1, 1}).u32(kObjects);
    for (int32_t i = 0; i < kObjects; ++i) {
        float x = float(i % 40) * 0.2f - 4, y = float(i / 40) * 0.2f - 2.5f;
        b.i32(0).i32(-1).append(constantTrack({x, y, 8, 0, 0, 0, 0.05f, 0.05f, 0.05f}));
        b.floats({0, 0, 0}).cstring("o");
    }
    b.u32(1).i32(-1).append(constantTrack({0, 0, 0})).append(constantTrack({1})).u32(0);
    b.floats({0, 0, 1, 1, 1, 1, 50});
    b.u32(1).append(constantTrack({0, 0, 0, 0, 0, 0, 1, 1, 1})).append(constantTrack({1})).i32(0);
    b.f32(25).u32(0x202020);
    std::unique_ptr<MemoryStream> s(b.stream());
    std::string error;
    return readFlatScene(s.get(), &error);
}

template <class Frame> void measureFrames(benchmark::State& state, Frame frame) {
    if (!hasDevice()) {
        state.SkipWithError("no video driver");
        return;
    }
    double draws = 0;
    for (auto _ : state) {
        auto begin = std::chrono::steady_clock::now();
        selectRenderTarget("primary");
        frame();
        flushState();
        auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
        present();
        draws += dxDevice()->GetFrameStats().draws;
    }
    state.counters["draws"] = benchmark::Counter(draws, benchmark::Counter::kAvgIterations);
}

void frameBenchmarks() {
    benchmark::RegisterBenchmark("frame/clear_only", [](benchmark::State& state) {
        measureFrames(state, [] { clear(3, 0, 1.0f, 0); });
    })->UseManualTime();
    benchmark::RegisterBenchmark("frame/1000_objects", [](benchmark::State& state) {
        static gledScene* scene = hasDevice() ? cubeScene() : nullptr;
        static gledViewSettings view;
        measureFrames(state, [] { renderScene(view, scene); });
    })->UseManualTime();
    benchmark::RegisterBenchmark("frame/1000_flat_objects", [](benchmark::State& state) {
        static FlatScene* scene = hasDevice() ? flatCubeScene() : nullptr;
        measureFrames(state, [] {
            clear(3, 0, 1.0f, 0);
            FlatFrame frame;
            frame.seconds = 1;
            renderFlatScene(*scene, frame);
        });
    })->UseManualTime();
}

gledMorphMesh* bigMorph() {
    auto* mesh = new gledMorphMesh;
    auto* source = new gledSubMesh;
    source->storageMode = 1;
    source->vertexCount = kMorphVertices;
    source->vertexFormat = D3DFVF_XYZ | D3DFVF_NORMAL;
    source->dataSize = kMorphVertices * 24;
    source->vertexData.assign(source->dataSize, 0);
    gledMorphMesh::Part part;
    part.source = source;
    mesh->parts.push_back(part);
    for (int t = 0; t < 2; ++t) {
        gledMorphMesh::Target target;
        snprintf(target.name, sizeof target.name, "t%d", t);
        for (uint32_t v = 0; v < kMorphVertices; ++v) {
            target.deltas.push_back(v);
            for (int k = 0; k < 6; ++k)
                target.deltas.push_back(0x3f800000); // 1.0f
        }
        target.deltas.push_back(uint32_t(-1));
        target.weight = 0.5f;
        mesh->targets.push_back(std::move(target));
    }
    return mesh;
}

void morphBenchmarks() {
    static gledMorphMesh* mesh = bigMorph();
    benchmark::RegisterBenchmark("morph/copy_vertices", [](benchmark::State& state) {
        std::vector<uint8_t> work;
        for (auto _ : state) {
            work.assign(mesh->parts[0].source->vertexData.begin(),
                        mesh->parts[0].source->vertexData.end());
            benchmark::DoNotOptimize(work.data());
        }
        state.counters["vertices/s"] = benchmark::Counter(
            double(state.iterations()) * kMorphVertices, benchmark::Counter::kIsRate);
    });
    benchmark::RegisterBenchmark("morph/blend_two_targets", [](benchmark::State& state) {
        for (auto _ : state) {
            mesh->blend();
            benchmark::DoNotOptimize(mesh->parts[0].work.data());
        }
        state.counters["vertices/s"] = benchmark::Counter(
            double(state.iterations()) * kMorphVertices, benchmark::Counter::kIsRate);
    });
}

void ratio(const ResultCollector& collector, const char* name, const char* ours,
           const char* reference) {
    const BenchResult* a = findResult(collector, ours);
    const BenchResult* b = findResult(collector, reference);
    if (a && b && b->realSeconds > 0)
        printf("ratio %s %.3f\n", name, a->realSeconds / b->realSeconds);
}

} // namespace

int main(int argc, char** argv) {
    logSetFile("scene_bench_log.txt");
    std::vector<char*> args = withDefaultFlags(argc, argv, {"--benchmark_min_time=0.2"});
    int count = int(args.size()) - 1;
    benchmark::Initialize(&count, args.data());
    initClassRegistry();
    registerSceneClasses();
    bool device = startHeadlessDevice(640, 480);
    loadBenchmarks();
    frameBenchmarks();
    morphBenchmarks();
    ResultCollector collector;
    runBenchmarks(collector);
    ratio(collector, "load_vs_copy", "load/object_scene", "load/copy_bytes");
    ratio(collector, "frame_1000_objects_vs_clear", "frame/1000_objects", "frame/clear_only");
    ratio(collector, "flat_1000_objects_vs_object_scene", "frame/1000_flat_objects",
          "frame/1000_objects");
    ratio(collector, "morph_blend_vs_copy", "morph/blend_two_targets", "morph/copy_vertices");
    if (const BenchResult* frame = findResult(collector, "frame/1000_objects"))
        printf("frame 1000 objects: %.3f ms CPU per frame, %.0f draws\n", 1000 * frame->realSeconds,
               counterOf(*frame, "draws"));
    if (const BenchResult* frame = findResult(collector, "frame/1000_flat_objects"))
        printf("frame 1000 flat objects: %.3f ms CPU per frame, %.0f draws\n",
               1000 * frame->realSeconds, counterOf(*frame, "draws"));
    if (const BenchResult* morph = findResult(collector, "morph/blend_two_targets"))
        printf("morph: %.1f million vertices/s\n", counterOf(*morph, "vertices/s") / 1e6);
    (void)device; // the frame benchmark's scene keeps its device buffers until the process ends
    return 0;
}
