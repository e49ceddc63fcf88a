// "Trace to Paths": a layer's depth (or the canvas) cut at a horizontal
// plane, the outline optionally offset, traced into polylines and fitted
// with curves. "genlayerpathingdepth" hands the layer's depth map over like
// a finished composition of mode canvas_trace; the viewport's install step
// then queues job_tracetopaths on a copy, which leaves the curves in
// trace_result for the viewport to make a paths-layer of.
#pragma once
#include <atomic>
#include <cstdint>

struct path;
struct image;

// 1 while job_tracetopaths runs; cleared before trace_result is stored.
extern std::atomic<int32_t> trace_busy;
// The traced curves, for the viewport (release by the job, acquire by it).
extern std::atomic<path *> trace_result;
extern float trace_starttime;

// Tolerance of the curve fit in project units: 2 pixels at error 0, 128 at 1.
float trace_tolerance(float error, float upp);

// Body of "genlayerpathingdepth"; the argument is the layer slot. Makes the
// layer's full-resolution depth map, waits until no composition is queued,
// running or pending, counts itself in progress and stores the map in
// pendingcanvas with jobmode canvas_trace, which it sets itself; or reports
// "Failed to produce depthmap for tracing!". A map of a layer that went
// meanwhile (a reset) is dropped.
void job_genlayerpathingdepth(void *slot);
// Body of the unnamed tracing job; the argument is the depth map (an
// image *), which the job frees. The plane, offset and error threshold are
// the configuration's cfg_tracezplane, cfg_traceoffset and cfg_traceerror.
void job_tracetopaths(void *depth);
