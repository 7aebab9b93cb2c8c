// The job's command lines.
#include "apply/apply_job.h"

namespace {

std::string joined(const std::vector<std::string>& filters) {
    std::string chain;
    for (const std::string& f : filters)
        if (!f.empty()) chain += (chain.empty() ? "" : ",") + f;
    return chain;
}

} // namespace

std::vector<std::string> filters_command(const apply_job& job, const logo_work& work,
                                         const std::string& mask, bool overwrite,
                                         const std::string& output) {
    // ffmpeg turns the picture before the chain, whose rectangles are the coded
    // picture's: turned back for the chain, and again after it. No turn, no filters.
    const std::string chain = filter_chain(*job.result, work, mask);
    const std::string vf = chain.empty() ? "" : joined({job.unturn, chain, job.turn});
    return ffmpeg_command(job.input, job.streams, vf, job.encoder, overwrite, output);
}

std::vector<std::string> decoding_command(const apply_job& job) {
    return decoder_command(job.input, job.route, job.timing);
}

std::vector<std::string> encoding_command(const apply_job& job, bool overwrite,
                                          const std::string& output) {
    // The frames come in their coded orientation, without field order or colour
    // description (raw pictures in NUT carry neither): all three are given again here.
    const std::string vf = joined({job.fields, filter_chain(*job.result, job.work, ""), job.turn});
    std::vector<std::string> encoder = job.colour;
    encoder.insert(encoder.end(), job.encoder.begin(), job.encoder.end());
    return encoder_command(job.input, job.route, vf, job.timing, encoder, overwrite, output);
}
