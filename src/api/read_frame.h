// The one reading path behind every public surface (C++, C, Python and the
// command-line tools): checks the frame, copies it, runs the engine and
// gathers its facts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "detect/symbol_detector.h"
#include "engine/reader_engine.h"
#include "quarrow/quarrow.hpp"

namespace quarrow::detail {

// `available` is the number of bytes the caller can vouch for, or
// kUnknownSize. With a trace, the detector records what it saw into it.
inline constexpr std::size_t kUnknownSize = static_cast<std::size_t>(-1);
// `engine` is a Reader's own engine, or null for the calling thread's.
ReadResult readFrame(const std::uint8_t* frame, int width, int height, int stride, std::size_t available,
                     const ReadOptions& options, AztecCore::DetectorTrace* trace,
                     AztecCore::ReaderEngine* engine = nullptr);
// Every symbol read, nearest to the centre first; a rejected frame gives
// one result carrying its status.
std::vector<ReadResult> readAllFrame(const std::uint8_t* frame, int width, int height, int stride,
                                     std::size_t available, const ReadOptions& options,
                                     AztecCore::ReaderEngine* engine = nullptr);

}  // namespace quarrow::detail
