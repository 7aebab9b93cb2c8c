// What delogo-apply does once the analysis has spoken, planned once: the route (FFmpeg's
// filters in one ffmpeg, or the restoration between a decoding and an encoding ffmpeg),
// the filter chain, the streams, the encoder, and the command lines that follow.
#pragma once

#include <string>
#include <vector>

#include "analysis/analysis_result.h"
#include "apply/ffmpeg_commands.h"
#include "apply/filter_chain.h"
#include "apply/frame_restorer.h"
#include "apply/input_streams.h"
#include "apply/stream_plan.h"

struct apply_job {
    const analysis_result* result = nullptr;
    std::string input;
    int64_t duration_us = 0;
    bool restoring = false; // the restoration between two ffmpegs, else FFmpeg's filters
    // Where FFmpeg's filters work: the route's own, and (for --dry-run of the restoration)
    // what --filter ffmpeg would do instead.
    logo_work work, filters_work;
    std::string turn, unturn; // the display matrix's turn and its inverse (display_turn)
    std::string fields;       // restoring an interlaced picture: "setfield=tff" or "bff"
    std::vector<std::string> streams; // the stream arguments of one ffmpeg
    std::vector<std::string> encoder; // the encoder arguments
    std::vector<std::string> colour;  // restoring: the colour description as options
    frame_route route;                // restoring: how the streams travel
    frame_timing timing;              // restoring: how frames are timed
    chain_maker restoration;          // restoring: the chain of stages
};

// The one ffmpeg command of FFmpeg's filters, with `work`'s chain (its mask read from
// `mask`), writing `output`.
std::vector<std::string> filters_command(const apply_job& job, const logo_work& work,
                                         const std::string& mask, bool overwrite,
                                         const std::string& output);
// The restoring route's two commands.
std::vector<std::string> decoding_command(const apply_job& job);
std::vector<std::string> encoding_command(const apply_job& job, bool overwrite,
                                          const std::string& output);
