// delogo: prints the FFmpeg filter arguments that crop a video's black borders and hide
// its station logo.
#include "analysis/command_line.h"
#include "video/sampler.h"

int main(int argc, char** argv) {
    program_options(argc, argv);
    return process_video(nullptr);
}
