// The module parameters of the kernel module: one per registry switch of
// the driver core (78 names, "reg3D", "regSys" and "sw" prefixes). A
// parameter is given when the module is loaded with it (a test's
// Glue::SetParameter) or when request 0x03 writes it; a parameter that was
// not given cannot be read, so the switch's own default applies.
// regSysBmDebugFlags is given from load with 0 (its default), so the core
// can set bits in it.
#include <string.h>

#include "platform/kglue/glue_state.h"
#include "platform/kglue/kglue.h"

OrvModuleParameter g_aoOrvModKstrnParms[] = {
    {"reg3DAAMode", 0, 0},
    {"reg3DThresholdAA", 0, 0},
    {"reg3DFragSize", 0, 0},
    {"reg3DForceCompressedMask", 0, 0},
    {"reg3DForcePLNWMASK4FAA", 0, 0},
    {"reg3DResolveOnStencilOpChange", 0, 0},
    {"reg3DAdjustZ", 0, 0},
    {"reg3DResolveAlphaBlendedFrags", 0, 0},
    {"reg3DForceAGPTextures", 0, 0},
    {"reg3DSwapTexturesVidMemOptions", 0, 0},
    {"reg3DHwTransformLight", 0, 0},
    {"reg3DHwPureDevice", 0, 0},
    {"reg3DEnableZinit", 0, 0},
    {"reg3DEnableZCompBrisol", 0, 0},
    {"reg3DForceDepthToS8Z24Brisol", 0, 0},
    {"reg3DDivByZeroRefRastBrisol", 0, 0},
    {"reg3DForce3DTextureToABBrisol", 0, 0},
    {"reg3DForce3DTextureToCDBrisol", 0, 0},
    {"reg3DForce3DTextureTextiledToABBrisol", 0, 0},
    {"reg3DForce3DTextureTextiledToCDBrisol", 0, 0},
    {"reg3DUse2DClearForceZUncompBrisol", 0, 0},
    {"reg3DUse3DClearBrisol", 0, 0},
    {"reg3DUseZCompInMultContextBrisol", 0, 0},
    {"reg3DColRndMode", 0, 0},
    {"reg3DUseBrisolMemoryStrategies", 0, 0},
    {"reg3DZUncompAnd2DClearSceneInProgBrisol", 0, 0},
    {"regSysPhysicalMemory", 0, 0},
    {"reg3DHqCubemaps", 0, 0},
    {"reg3DUseTextiled", 0, 0},
    {"reg3DVertexBuffers", 0, 0},
    {"reg3DMemLevels", 0, 0},
    {"reg3DLightingType", 0, 0},
    {"reg3DVECacheMode", 0, 0},
    {"reg3DCullNoneMode", 0, 0},
    {"reg3DTnLZFactor", 0, 0},
    {"reg3DForcePCIAllocation", 0, 0},
    {"reg3DGuardBandClipping", 0, 0},
    {"reg3DVertexShader", 0, 0},
    {"reg3DVertexShaderOptions", 0, 0},
    {"reg3DLoxarEnable", 0, 0},
    {"reg3DPerformCRegCheck", 0, 0},
    {"reg3DClipReject", 0, 0},
    {"reg3DVolumetricShadow", 0, 0},
    {"reg3DClippingType", 0, 0},
    {"reg3DTEEnable", 0, 0},
    {"reg3DTEPipeSelect", 0, 0},
    {"reg3DTEDefaultColor", 0, 0},
    {"reg3DTEMultiplePipes", 0, 0},
    {"reg3DTEFastTrilinear", 0, 0},
    {"reg3DTEFilteringOptions", 0, 0},
    {"reg3DTELodBias", 0, 0},
    {"reg3DTEDLFCounters", 0, 0},
    {"reg3DSpanthree", 0, 0},
    {"reg3DPolygonOffset", 0, 0},
    {"reg3DWideLines", 0, 0},
    {"reg3DLineStipple", 0, 0},
    {"reg3DTextureCompress", 0, 0},
    {"reg3DDebug", 0, 0},
    {"reg3DFastBitmap", 0, 0},
    {"reg3DFastRasterPos", 0, 0},
    {"regSysMmFlags", 0, 0},
    {"regSysMmDebugFlags", 0, 0},
    {"regSysBmDebugFlags", 0, 0},
    {"regSysBmDebugInfo", 0, 0},
    {"regSysBmDbgOutLvl", 0, 0},
    {"reg3DBlitSoft", 0, 0},
    {"regSysDebugPatches", 0, 0},
    {"regSysVSyncInt", 0, 0},
    {"reg3DFulmiraFullScreen", 0, 0},
    {"reg3DFulmiraRender", 0, 0},
    {"reg3DDxVaSupport", 0, 0},
    {"swDxVaSupportIndicator", 0, 0},
    {"reg3DFlipOnVBlank", 0, 0},
    {"swOverlayEnable", 0, 0},
    {"swEnableCostlyOverlaySupport", 0, 0},
    {"swWaitOnFieldFlip", 0, 0},
    {"swNonLocalToVideoBlit", 0, 0},
    {"swVPEEnable", 0, 0},
    {nullptr, 0, 0},
};

namespace kglue {

void ResetModuleParameters() {
  // The one given parameter, found once: a harness resets the table for
  // every input, and each comparison of names is an intercepted call in a
  // fuzz build.
  static const OrvModuleParameter* const given = [] {
    for (const OrvModuleParameter* p = g_aoOrvModKstrnParms; p->name != nullptr; ++p)
      if (strcmp(p->name, "regSysBmDebugFlags") == 0) return p;
    return static_cast<const OrvModuleParameter*>(nullptr);
  }();
  for (OrvModuleParameter* p = g_aoOrvModKstrnParms; p->name != nullptr; ++p) {
    p->value = 0;
    p->given = p == given ? 1 : 0;
  }
}

}  // namespace kglue
