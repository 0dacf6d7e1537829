// Device creation, clear and readback, adapters and format checks, caps profiles, faults,
// the loss/reset cycle and invalid calls.
#include "gpu_fixture.h"

#include <cstring>

TEST_F(GpuFixture, clearFillsTheViewportOnlyAndReadsBackTopRowFirst) {
  ASSERT_EQ(device->BeginScene(), D3D_OK);
  clear(0xFF102030);
  D3DVIEWPORT8 vp{0, 0, 32, 16, 0, 1};
  ASSERT_EQ(device->SetViewport(&vp), D3D_OK);
  ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0), D3D_OK);
  ASSERT_EQ(device->EndScene(), D3D_OK);
  std::vector<uint32_t> p = readTarget();
  EXPECT_EQ(p[0], 0xFFFF0000u);             // top-left is inside the viewport
  EXPECT_EQ(p[15 * kSize + 31], 0xFFFF0000u); // last pixel inside
  EXPECT_EQ(p[16 * kSize + 0], 0xFF102030u);  // first row below
  EXPECT_EQ(p[0 * kSize + 32], 0xFF102030u);  // first column right of it
  EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}
