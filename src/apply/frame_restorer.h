// The restoration between the two ffmpegs: the NUT the decoding ffmpeg writes passes
// through delogo-apply packet by packet, the raw pictures of its video restored by the
// chain of stages, every other packet as it came, all in the order they came.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "analysis/analysis_result.h"
#include "logo/logo_model.h"
#include "logo/restoration.h"
#include "video/nut_pipe.h"

// The restoration of `logo` for pictures of `layout`, inside `picture` (frame pixels).
// "" or why such pictures cannot be restored: a frame size other than the model's, a
// layout other than planar YUV or grey of 8 to 16 bits in the machine's byte order, a
// chroma subsampling other than the model's.
std::string plan_for(const frame_logo& logo, const frame_rect& picture, const frame_layout& layout,
                     bool interlaced, restoration& out);

// The chain of stages for pictures of `layout`, allowed to hold at most `max_delay` frames
// back (what the memory for whole pictures allows), and where its work areas lie; "" or
// why the pictures cannot be restored.
struct frame_chain {
    std::unique_ptr<stage_chain> chain;
    work_layout work;
};
using chain_maker =
    std::function<std::string(const frame_layout& layout, int max_delay, frame_chain& out)>;

// The chain that restores `logo` (see plan_for and restoration_stages). The maker owns its
// share of the logo until it has made a chain, then lets it go: a frame-sized model (100 MB
// at 4K) need not stay for the run. Called again after that, it says so.
chain_maker restoring_chain(std::shared_ptr<const frame_logo> logo, const frame_rect& picture,
                            bool interlaced);

// The memory for whole pictures held back while the chain works, bytes: a 4K 8-bit 4:2:0
// picture is 12 MB, a 1080p one 3 MB.
constexpr int64_t held_pictures_budget = int64_t{64} << 20;

// How the frames' pass ended: "" or what failed; `reader_gone` when the encoding ffmpeg
// stopped reading (it had what it wanted: -t, -frames, -shortest, or it failed).
struct frames_end {
    std::string error;
    bool reader_gone = false;
};

// Reads the NUT on `in_fd` (left open) and writes it to `out_fd` (closed at the end):
// every packet in the order read, the pictures of stream 0 (raw video) changed by the
// chain `make` builds, which holds them back for its window, the packets after them
// held with them. Until the input ends, the reader goes away or `stop` returns true.
// The chapters are moved by `chapter_shift_us` (see open_nut_output).
frames_end restore_pass(int in_fd, int out_fd, const chain_maker& make,
                        int64_t chapter_shift_us, const std::function<bool()>& stop);
