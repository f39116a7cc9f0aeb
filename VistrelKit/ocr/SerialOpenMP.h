#pragma once

namespace vistrel {

// Each recognition engine runs on one thread by design: the recognizer shares a screen's lines out
// among a couple of engines itself, and the machine has other work. Tesseract, however, opens an
// OpenMP parallel region for every time step of its LSTM network, thousands per text line. Left
// to libgomp those regions either start a team of threads that spin between steps (several times
// the CPU for the same text), or, limited to one thread, still pay a futex system call per region
// (about a fifth of the recognition time).
//
// SerialOpenMP.cpp therefore defines the libgomp entry points Tesseract calls for `parallel` and
// `parallel sections`; the dynamic linker prefers the executable's definitions, so those regions
// run inline on the calling thread, exactly as a team of one would run them. Worksharing that was
// not started by these inline regions is passed on to libgomp unchanged.
//
// Returns whether regions currently run inline (true unless switched off). Calling it also makes
// sure the definitions are linked into the executable.
bool serialOpenMPRegions();

// Benchmarks switch the inline regions off to measure what they save; not for production use.
void setSerialOpenMPRegions(bool inlineRegions);

}  // namespace vistrel
