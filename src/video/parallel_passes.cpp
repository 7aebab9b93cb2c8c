// The passes with one demuxer on the calling thread and a decoder on each worker thread.
//
// The one-thread run is a chain: seek, read a packet, decode it, and what the decoder
// made of it decides whether the next call reads on or seeks to the next pass. What a
// seek lands on depends on everything the demuxer read before (generic indexes grow while
// reading; a pipe's bytes are gone once read), so the demuxer must make exactly that
// chain's calls. Here it does, on the calling thread, and only the decoding moves:
//
// - A pass is bound to a free decoder and gets its video packets one at a time. A packet
//   flagged key is taken for the pass's last (it nearly always decodes to the sample), and
//   the demuxer goes on to the next pass while it decodes. Any other packet is decoded
//   before the next read, on the pass's own decoder, as the one-thread run does.
// - A pass is committed when it and every pass before it are over: its messages, then the
//   client's commit. An end of file or a fatal end stops there; what later passes did is
//   dropped.
// - A key packet that did not end its pass means the demuxer has read past the point
//   where the one-thread run read on. Once every pass before it is committed, the input
//   is opened again and the committed passes' calls are replayed (the same seeks, the same
//   number of reads, nothing decoded), up to that packet; the pass's decoder still holds
//   what the one-thread decoder would, and the pass reads on. Only inputs that give the
//   same bytes again are treated so, and twice at most in a run: otherwise every packet
//   waits for its outcome.
#include "video/parallel_passes.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>

namespace {

// ---- FFmpeg's messages, kept per pass ---------------------------------------------------

// Where FFmpeg's messages of the calling thread go: null for standard error.
thread_local std::string* log_sink = nullptr;
thread_local int log_prefix = 1; // av_log_format_line2's state between the thread's lines

// av_log_default_callback's text for a message (which it writes to standard error when
// that is no terminal and no log flags are set: the tool sets none), kept in log_sink.
void capture_log(void* avcl, int level, const char* fmt, va_list vl) {
    std::string* sink = log_sink;
    if (!sink) {
        av_log_default_callback(avcl, level, fmt, vl);
        return;
    }
    if ((level >= 0 ? level & 0xff : level) > av_log_get_level()) return;
    char line[4096];
    av_log_format_line2(avcl, level, fmt, vl, line, sizeof line, &log_prefix);
    for (char* c = line; *c; ++c) {
        const auto u = static_cast<unsigned char>(*c);
        if (u < 0x08 || (u > 0x0D && u < 0x20)) *c = '?'; // as the default callback shows them
    }
    try {
        sink->append(line);
    } catch (const std::bad_alloc&) {
        // No exception may cross FFmpeg's C frames: without memory the message is lost.
    }
}

// Installs capture_log while the passes run (the decoders start no threads of their own,
// so every message comes from a thread that set its log_sink).
struct log_capture {
    log_capture() { av_log_set_callback(capture_log); }
    ~log_capture() { av_log_set_callback(av_log_default_callback); }
    log_capture(const log_capture&) = delete;
    log_capture& operator=(const log_capture&) = delete;
};

// Sends the calling thread's FFmpeg messages to `sink` for its lifetime.
struct log_to {
    std::string* saved;
    explicit log_to(std::string* sink) : saved(log_sink) { log_sink = sink; }
    ~log_to() { log_sink = saved; }
    log_to(const log_to&) = delete;
    log_to& operator=(const log_to&) = delete;
};

// A pass's messages are kept in pieces that, joined in index order, are the one-thread
// run's order: 0 the seek, 1 the decoder's flush, then for the pass's k-th video packet
// (from 1) 2k what reading up to it logged and 2k + 1 what decoding it logged.
int piece(int packet, int decoding) {
    return 2 * packet + decoding;
}

// ---- The decoders -------------------------------------------------------------------------

// One video packet of a pass for a decoder, and what came of it.
struct job {
    int pass = 0;
    int packet = 0;     // the pass's k-th video packet, from 1
    bool flush = false; // the first packet after a seek: forget the pass before first
    unsigned epoch = 0; // the reading it belongs to (a replay starts a new one)
    packet_outcome outcome = packet_outcome::read_on;
    int code = 0;
    std::string flush_log, log;
};

// A decoder and its thread's mailbox.
struct decoder_slot {
    codec_ptr own; // the decoder, except slot 0's, which is in.dec_ctx
    AVCodecContext* dec = nullptr;
    frame_ptr frame;
    packet_ptr packet; // the job's packet, handed over by the reading thread
    std::condition_variable wake;
    job work;              // written by whichever side the flags below give it to
    bool queued = false;   // under the lock: work waits for the decoder
    bool answered = false; // under the lock: work's outcome waits for the reading thread
    // The reading thread's own:
    bool busy = false;       // a job handed over whose outcome it has not taken
    int bound = 0;           // the pass whose decoding state this decoder holds, or 0
    bool flush_owed = false; // a seek since its last packet: flush before the next one
};

struct board {
    std::mutex lock;
    std::condition_variable answered;
    bool stop = false;
    std::vector<std::unique_ptr<decoder_slot>> slots;
};

// The decoding thread of slot k: decodes the jobs handed over until told to stop.
void decode_jobs(const video_input& in, const capture_fn& capture, board& b, decoder_slot& s,
                 int k) {
    while (true) {
        {
            std::unique_lock<std::mutex> hold(b.lock);
            s.wake.wait(hold, [&] { return b.stop || s.queued; });
            if (b.stop) return;
            s.queued = false;
        }
        job& w = s.work;
        try {
            if (w.flush) {
                log_to sink(&w.flush_log);
                avcodec_flush_buffers(s.dec);
            }
            log_to sink(&w.log);
            w.outcome = decode_packet(in, s.dec, s.packet.get(), s.frame.get(), w.code);
            if (w.outcome == packet_outcome::captured) {
                capture(w.pass, k, s.frame.get());
                av_frame_unref(s.frame.get());
            }
        } catch (...) {
            av_frame_unref(s.frame.get());
            w.outcome = packet_outcome::fatal;
            w.code = AVERROR(ENOMEM);
        }
        {
            std::lock_guard<std::mutex> hold(b.lock);
            s.answered = true;
        }
        b.answered.notify_one();
    }
}

// Starts a decoding thread per slot (fewer when the system has no more) and stops and
// joins them whatever way the caller leaves.
struct decoding_threads {
    board& b;
    std::vector<std::thread> threads;
    decoding_threads(board& shared, const video_input& in, const capture_fn& capture) : b(shared) {
        try {
            threads.reserve(b.slots.size());
            for (size_t k = 0; k < b.slots.size(); ++k)
                threads.emplace_back(decode_jobs, std::cref(in), std::cref(capture), std::ref(b),
                                     std::ref(*b.slots[k]), static_cast<int>(k));
        } catch (const std::exception&) {
            // Out of threads or memory: the slots that got one do the work.
        }
    }
    ~decoding_threads() {
        {
            std::lock_guard<std::mutex> hold(b.lock);
            b.stop = true;
        }
        for (const auto& s : b.slots)
            s->wake.notify_one();
        for (std::thread& t : threads)
            t.join();
    }
    decoding_threads(const decoding_threads&) = delete;
    decoding_threads& operator=(const decoding_threads&) = delete;
};

// ---- The reading thread -----------------------------------------------------------------

enum class pass_state {
    unstarted,
    reading,    // the demuxer is in this pass
    waiting,    // its last packet decodes, and the reading waits for the outcome
    speculated, // its last packet, a key packet, decodes, and the reading went on
    failed,     // that key packet did not end it: to be read on after a replay
    done,
};

struct pass_record {
    pass_state state = pass_state::unstarted;
    int slot = -1;         // its decoder
    int reads = 0;         // av_read_frame calls made so far
    int packets = 0;       // video packets handed to the decoder
    bool replayed = false; // read on after a replay: no more guessing in this pass
    pass_end end = pass_end::read_error;
    int code = 0;
    std::vector<std::string> log; // pieces, see piece()
};

class parallel_reading {
  public:
    parallel_reading(video_input& in, AVPacket* packet, const std::vector<int64_t>& targets,
                     const commit_fn& commit, board& b)
        : in_(in), packet_(packet), targets_(targets), commit_(commit), b_(b),
          passes_(targets.size()), count_(static_cast<int>(targets.size())),
          speculate_(in.rereadable) {}

    int run() {
        while (!finished_) {
            take_answers();
            commit_ready();
            if (finished_) break;
            if (!step()) wait_for_answer();
        }
        return code_;
    }

  private:
    video_input& in_;
    AVPacket* packet_;
    const std::vector<int64_t>& targets_;
    const commit_fn& commit_;
    board& b_;
    std::vector<pass_record> passes_; // pass i at i - 1
    const int count_;
    int reading_ = 0;       // the pass the demuxer is in when it reads on, or 0
    int next_ = 1;          // the next pass to start
    int committed_ = 0;     // passes 1..committed_ are committed
    int stop_at_ = INT_MAX; // a pass known to end the sampling: none after it starts
    bool speculate_;        // key packets are taken for their pass's last
    int replays_ = 0;
    unsigned epoch_ = 0;
    bool finished_ = false;
    int code_ = 0;

    pass_record& pass(int i) { return passes_[static_cast<size_t>(i - 1)]; }
    decoder_slot& slot(int k) { return *b_.slots[static_cast<size_t>(k)]; }
    int slots() const { return static_cast<int>(b_.slots.size()); }

    std::string& log_piece(pass_record& p, int index) {
        if (p.log.size() <= static_cast<size_t>(index))
            p.log.resize(static_cast<size_t>(index) + 1);
        return p.log[static_cast<size_t>(index)];
    }

    bool holds_open_pass(int k) {
        const int i = slot(k).bound;
        if (i == 0) return false;
        const pass_state state = pass(i).state;
        return state != pass_state::done && state != pass_state::unstarted;
    }

    // The decoder for pass i, or -1 while it has to wait for one: any free one after a
    // seek; without a seek the previous pass's, once that pass is over, since the pass
    // reads on with what that decoder holds.
    int slot_for(int i) {
        if (targets_[static_cast<size_t>(i - 1)] == no_seek && i > 1) {
            const pass_record& before = pass(i - 1);
            if (before.state != pass_state::done || slot(before.slot).busy) return -1;
            return before.slot;
        }
        for (int k = 0; k < slots(); ++k)
            if (!slot(k).busy && !holds_open_pass(k)) return k;
        return -1;
    }

    // Moves the reading on where it can without an outcome; false when it must wait.
    bool step() {
        if (reading_ != 0) {
            if (pass(reading_).state == pass_state::waiting) return false;
            read_on(reading_);
            return true;
        }
        if (next_ > count_ || next_ > stop_at_) return false;
        const int k = slot_for(next_);
        if (k < 0) return false;
        const int i = next_++;
        pass_record& p = pass(i);
        p.state = pass_state::reading;
        p.slot = k;
        slot(k).bound = i;
        reading_ = i;
        const int64_t target = targets_[static_cast<size_t>(i - 1)];
        if (target != no_seek) {
            log_to sink(&log_piece(p, piece(0, 0)));
            seek_demuxer(in_, target);
            // The one-thread run flushes here; a pass that ends before its first packet
            // leaves the flush to the pass that reads on after it.
            slot(k).flush_owed = true;
        }
        read_on(i);
        return true;
    }

    // Reads pass i up to its next video packet and hands that to the pass's decoder, or
    // ends the pass at the end of the file or a read error.
    void read_on(int i) {
        pass_record& p = pass(i);
        packet_read got;
        {
            log_to sink(&log_piece(p, piece(p.packets + 1, 0)));
            got = read_video_packet(in_, packet_, p.reads);
        }
        if (got != packet_read::video) {
            p.state = pass_state::done;
            p.end = got == packet_read::end_of_file ? pass_end::end_of_file : pass_end::read_error;
            if (p.end == pass_end::end_of_file) stop_at_ = std::min(stop_at_, i);
            reading_ = 0;
            return;
        }
        const bool key = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
        decoder_slot& s = slot(p.slot);
        ++p.packets;
        s.work = job{};
        s.work.pass = i;
        s.work.packet = p.packets;
        s.work.flush = s.flush_owed;
        s.flush_owed = false;
        s.work.epoch = epoch_;
        av_packet_move_ref(s.packet.get(), packet_);
        s.busy = true;
        {
            std::lock_guard<std::mutex> hold(b_.lock);
            s.queued = true;
        }
        s.wake.notify_one();
        if (speculate_ && key && !p.replayed) {
            p.state = pass_state::speculated;
            reading_ = 0;
        } else {
            p.state = pass_state::waiting;
        }
    }

    // Takes the outcomes the decoders have posted.
    void take_answers() {
        std::vector<int> answered;
        {
            std::lock_guard<std::mutex> hold(b_.lock);
            for (int k = 0; k < slots(); ++k)
                if (slot(k).answered) {
                    slot(k).answered = false;
                    answered.push_back(k);
                }
        }
        for (const int k : answered) {
            decoder_slot& s = slot(k);
            s.busy = false;
            job& w = s.work;
            if (w.epoch != epoch_) continue; // a pass dropped by a replay
            pass_record& p = pass(w.pass);
            if (w.flush) log_piece(p, piece(0, 1)) = std::move(w.flush_log);
            log_piece(p, piece(w.packet, 1)) = std::move(w.log);
            if (w.outcome != packet_outcome::read_on && reading_ == w.pass) reading_ = 0;
            switch (w.outcome) {
            case packet_outcome::captured:
                p.state = pass_state::done;
                p.end = pass_end::captured;
                break;
            case packet_outcome::fatal:
                p.state = pass_state::done;
                p.end = pass_end::fatal;
                p.code = w.code;
                stop_at_ = std::min(stop_at_, w.pass);
                break;
            case packet_outcome::read_on:
                p.state =
                    p.state == pass_state::speculated ? pass_state::failed : pass_state::reading;
                break;
            }
        }
    }

    void wait_for_answer() {
        bool any_busy = false;
        for (int k = 0; k < slots(); ++k)
            any_busy = any_busy || slot(k).busy;
        if (!any_busy) {
            // Nothing decodes and nothing can be read: cannot happen, but never hang.
            finished_ = true;
            code_ = AVERROR_BUG;
            return;
        }
        std::unique_lock<std::mutex> hold(b_.lock);
        b_.answered.wait(hold, [&] {
            for (int k = 0; k < slots(); ++k)
                if (slot(k).answered) return true;
            return false;
        });
    }

    // Commits the passes that are over and follow the committed ones without a gap.
    void commit_ready() {
        while (committed_ < count_) {
            pass_record& p = pass(committed_ + 1);
            if (p.state == pass_state::failed) {
                replay(committed_ + 1);
                return;
            }
            if (p.state != pass_state::done) return;
            for (std::string& text : p.log)
                fwrite(text.data(), 1, text.size(), stderr);
            std::vector<std::string>().swap(p.log);
            ++committed_;
            commit_(committed_, p.end);
            if (p.end == pass_end::fatal || p.end == pass_end::end_of_file) {
                code_ = p.end == pass_end::fatal ? p.code : 0;
                finished_ = true;
                return;
            }
        }
        finished_ = true;
    }

    // Pass r's key packet did not end it, and every pass before it is committed: drops the
    // later passes, opens the input again and repeats the committed calls up to that
    // packet, so that the demuxer stands where the one-thread run's stands; pass r reads
    // on from there on its own decoder.
    void replay(int r) {
        ++epoch_;
        for (int k = 0; k < slots(); ++k)
            while (slot(k).busy) {
                wait_for_answer();
                take_answers();
            }
        for (int i = r + 1; i <= count_; ++i)
            pass(i) = pass_record{};
        for (int k = 0; k < slots(); ++k)
            if (slot(k).bound > r) slot(k).bound = 0;
        stop_at_ = INT_MAX;
        next_ = r + 1;
        reading_ = r;
        pass(r).state = pass_state::reading;
        pass(r).replayed = true;
        // Twice at most: a file whose key packets often need more packets reads without
        // guessing from then on.
        if (++replays_ >= 2) speculate_ = false;

        std::string dropped; // printed once already
        log_to sink(&dropped);
        const int ret = reopen_demuxer(in_);
        if (ret < 0) {
            finished_ = true;
            code_ = ret;
            return;
        }
        for (int i = 1; i <= r; ++i) {
            const int64_t target = targets_[static_cast<size_t>(i - 1)];
            if (target != no_seek) seek_demuxer(in_, target);
            for (int n = 0; n < pass(i).reads; ++n) {
                av_read_frame(in_.fmt_ctx.get(), packet_);
                av_packet_unref(packet_);
            }
        }
    }
};

} // namespace

int sample_in_parallel(video_input& in, AVPacket* packet, const std::vector<int64_t>& targets,
                       int decoders, const capture_fn& capture, const commit_fn& commit) {
    log_capture capturing;
    board b;
    {
        // What opening the other decoders logs was printed once by the first's open.
        std::string dropped;
        log_to sink(&dropped);
        for (int k = 0; k < decoders; ++k) {
            auto s = std::make_unique<decoder_slot>();
            s->frame.reset(av_frame_alloc());
            s->packet.reset(av_packet_alloc());
            if (k == 0)
                s->dec = in.dec_ctx.get();
            else if (open_another_decoder(in, s->own) >= 0)
                s->dec = s->own.get();
            if (!s->frame || !s->packet || !s->dec) break;
            b.slots.push_back(std::move(s));
        }
    }
    decoding_threads threads(b, in, capture);
    b.slots.resize(threads.threads.size()); // the slots without a thread take no job
    if (b.slots.empty()) {
        frame_ptr frame(av_frame_alloc());
        if (!frame) return AVERROR(ENOMEM);
        return sample_in_order(in, packet, frame.get(), targets, capture, commit);
    }
    return parallel_reading(in, packet, targets, commit, b).run();
}
