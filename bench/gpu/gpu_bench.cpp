// A frame of 10,000 small draws from user memory with state changes between them, the way
// effects draw sprites: CPU time per draw, GL calls per draw, program cache hit rate and the
// number of generated programs. The reference is the same quads drawn in one call, in the
// same run. Run headless with SDL_VIDEODRIVER=offscreen.
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

} // namespace

int main() {
    GpuSystem* system = gpuCreate();
    if (!system) return fprintf(stderr, "gpu_bench: no video driver\n"), 1;
    D3DPRESENT_PARAMETERS params;
    params.BackBufferWidth = kSize;
    params.BackBufferHeight = 480;
    params.BackBufferFormat = D3DFMT_X8R8G8B8;
    params.Windowed = true;
    params.FullScreen_PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    GpuDevice* device = nullptr;
    if (system->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                             &params, &device) != D3D_OK)
        return fprintf(stderr, "gpu_bench: no device\n"), 1;
    device->SetRenderState(D3DRS_LIGHTING, 0);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    GpuTexture* textures[2] = {};
    for (GpuTexture*& t : textures)
        device->CreateTexture(16, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t);
    std::vector<Vertex> vertices(size_t(kDraws) * 6);
    for (int i = 0; i < kDraws; ++i)
        quad(&vertices[size_t(i) * 6], i);

    drawFrame(device, textures, vertices); // warm-up: programs are built here
    device->Present(nullptr, nullptr, nullptr, nullptr);
    const int frames = 5;
    double perDraw = 0, batched = 0, unchanged = 0;
    GpuFrameStats stats;
    for (int f = 0; f < frames; ++f) {
        perDraw += drawFrame(device, textures, vertices);
        device->Present(nullptr, nullptr, nullptr, nullptr);
        stats = device->GetFrameStats();
        batched += drawBatched(device, vertices);
        device->Present(nullptr, nullptr, nullptr, nullptr);
        unchanged += drawFrame(device, textures, vertices, false);
        device->Present(nullptr, nullptr, nullptr, nullptr);
    }
    perDraw /= frames;
    batched /= frames;
    unchanged /= frames;
    printf("draws per frame          %d\n", kDraws);
    printf("cpu time per draw        %.3f us\n", perDraw / kDraws * 1e6);
    printf("gl calls per draw        %.2f\n", double(stats.glCalls) / kDraws);
    printf("state changes per draw   %.2f\n", double(stats.stateChanges) / kDraws);
    printf("program cache hit rate   %.4f\n",
           stats.shaderLookups ? double(stats.shaderCacheHits) / stats.shaderLookups : 0.0);
    printf("programs compiled/frame  %u\n", stats.shaderCompiles);
    printf("programs in cache        %u\n", device->GetShaderCount());
    printf("one batched call         %.3f ms\n", batched * 1e3);
    printf("same draws, no changes   %.3f us per draw\n", unchanged / kDraws * 1e6);
    printf("ratio gpu_draw_per_quad_vs_batched %.2f\n", perDraw / batched);
    printf("ratio gpu_state_changes_vs_none %.2f\n", perDraw / unchanged);
    for (GpuTexture* t : textures)
        t->Release();
    device->Release();
    system->Release();
    return 0;
}
