// delogo: prints the FFmpeg filter arguments that crop a video's black borders and hide
// its station logo.
#include "command_line.h"
#include "sampler.h"

int main(int argc, char** argv) {
    program_options(argc, argv);
    return process_video(nullptr);
}
