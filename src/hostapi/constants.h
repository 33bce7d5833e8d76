#pragma once
#include <cstdint>

#include "fourcc.h"
#include "types.h"

namespace veltrane::hostapi {

// Entry point selectors.
inline constexpr std::int16_t selectorAbout = 0;
inline constexpr std::int16_t selectorParameters = 1;
inline constexpr std::int16_t selectorPrepare = 2;
inline constexpr std::int16_t selectorStart = 3;
inline constexpr std::int16_t selectorContinue = 4;
inline constexpr std::int16_t selectorFinish = 5;

// Image modes.
inline constexpr std::int16_t modeBitmap = 0;
inline constexpr std::int16_t modeGrayScale = 1;
inline constexpr std::int16_t modeIndexedColor = 2;
inline constexpr std::int16_t modeRGBColor = 3;
inline constexpr std::int16_t modeCMYKColor = 4;
inline constexpr std::int16_t modeHSLColor = 5;
inline constexpr std::int16_t modeHSBColor = 6;
inline constexpr std::int16_t modeMultichannel = 7;
inline constexpr std::int16_t modeDuotone = 8;
inline constexpr std::int16_t modeLabColor = 9;
inline constexpr std::int16_t modeGray16 = 10;
inline constexpr std::int16_t modeRGB48 = 11;
inline constexpr std::int16_t modeLab48 = 12;
inline constexpr std::int16_t modeCMYK64 = 13;
inline constexpr std::int16_t modeDeepMultichannel = 14;
inline constexpr std::int16_t modeDuotone16 = 15;
inline constexpr std::int16_t modeRGB96 = 16;
inline constexpr std::int16_t modeGray32 = 17;

// Result codes.
inline constexpr OSErr noErr = 0;
inline constexpr OSErr coercedParamErr = 2;
inline constexpr OSErr eofErr = -39;
inline constexpr OSErr paramErr = -50;
inline constexpr OSErr memFullErr = -108;
inline constexpr OSErr nilHandleErr = -109;
inline constexpr OSErr userCanceledErr = -128;
inline constexpr OSErr errMissingParameter = -1715;
inline constexpr OSErr filterBadParameters = -30100;
inline constexpr OSErr filterBadMode = -30101;
inline constexpr OSErr errPlugInHostInsufficient = -30900;

// Basic suite error codes.
inline constexpr SPErr spNoError = 0;
inline constexpr SPErr spSuiteNotFound = static_cast<SPErr>(fourcc("S!Fd"));
inline constexpr SPErr spBadParameter = static_cast<SPErr>(fourcc("Parm"));
inline constexpr SPErr spOutOfMemory = -108;
inline constexpr SPErr spUnimplemented = static_cast<SPErr>(fourcc("!IMP"));

// Padding values.
inline constexpr std::int16_t paddingEdgeReplication = -1;
inline constexpr std::int16_t paddingNone = -2;
inline constexpr std::int16_t paddingErrorOnBounds = -3;

// Scripting: play and record options.
inline constexpr std::int16_t plugInDialogDontDisplay = 0;
inline constexpr std::int16_t plugInDialogDisplay = 1;
inline constexpr std::int16_t plugInDialogSilent = 2;
inline constexpr std::int16_t plugInDialogOptional = 0;
inline constexpr std::int16_t plugInDialogRequired = 1;
inline constexpr std::int16_t plugInDialogNone = 2;

// Descriptor type codes.
inline constexpr DescriptorTypeID typeInteger = fourcc("long");
inline constexpr DescriptorTypeID typeFloat = fourcc("doub");
inline constexpr DescriptorTypeID typeBoolean = fourcc("bool");
inline constexpr DescriptorTypeID typeNull = fourcc("null");
inline constexpr DescriptorTypeID typeImageReference = fourcc("#ImR");

// Suites reached through the basic suite.
inline constexpr const char* descriptorRegistrySuiteName = "61e608b0-40fd-11d1-8da3-00c04fd5f7ee";
inline constexpr std::int32_t descriptorRegistrySuiteVersion = 1;
inline constexpr const char* actionDescriptorSuiteName = "df135115-c769-11d0-8079-00c04fd7ec47";
inline constexpr std::int32_t actionDescriptorSuiteVersion = 2;

inline constexpr OSType hostSignature = fourcc("8BIM");
inline constexpr OSType filterKind = fourcc("8BFM");

// Suite headers.
inline constexpr std::int16_t handleProcsVersion = 1;
inline constexpr std::int16_t handleProcsCount = 8;
inline constexpr std::int16_t bufferProcsVersion = 2;
inline constexpr std::int16_t bufferProcsCount = 5;
inline constexpr std::int16_t bufferProcsCount64 = 8;
inline constexpr std::int16_t readDescriptorProcsVersion = 0;
inline constexpr std::int16_t readDescriptorProcsCount = 18;
inline constexpr std::int16_t writeDescriptorProcsVersion = 0;
inline constexpr std::int16_t writeDescriptorProcsCount = 16;

}  // namespace veltrane::hostapi
