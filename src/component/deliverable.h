// What differs between the three component libraries built from this
// source: the runtime namespace (hence the class names and the reader's
// interface identifier) and whether each call is announced on stdout.
// The build defines exactly one QUARROW_DELIVERABLE_* macro.
#pragma once

#include <string_view>

#include "quarrow/runtime.h"

namespace quarrow::component {

#if defined(QUARROW_DELIVERABLE_WINDOWS10)
inline constexpr std::u16string_view kReaderClassName = u"QuarrowWindows10.AztecReader";
inline constexpr std::u16string_view kFactoryClassName = u"QuarrowWindows10.__AztecReaderActivationFactory";
inline constexpr platform::Guid kReaderInterfaceId = platform::IID_IAztecReader_QuarrowWindows10;
inline constexpr bool kAnnounceCalls = false;
#elif defined(QUARROW_DELIVERABLE_WINDOWS81)
inline constexpr std::u16string_view kReaderClassName = u"QuarrowWindows81.AztecReader";
inline constexpr std::u16string_view kFactoryClassName = u"QuarrowWindows81.__AztecReaderActivationFactory";
inline constexpr platform::Guid kReaderInterfaceId = platform::IID_IAztecReader_QuarrowWindows81;
inline constexpr bool kAnnounceCalls = true;
#elif defined(QUARROW_DELIVERABLE_WP81)
inline constexpr std::u16string_view kReaderClassName = u"QuarrowWP81.AztecReader";
inline constexpr std::u16string_view kFactoryClassName = u"QuarrowWP81.__AztecReaderActivationFactory";
inline constexpr platform::Guid kReaderInterfaceId = platform::IID_IAztecReader_QuarrowWP81;
inline constexpr bool kAnnounceCalls = true;
#else
#error "define one of QUARROW_DELIVERABLE_WINDOWS10, _WINDOWS81, _WP81"
#endif

}  // namespace quarrow::component
