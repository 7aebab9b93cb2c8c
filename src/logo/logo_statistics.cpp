// A logo's statistics over recordings, merged pairwise, and their file's bytes.
#include "logo/logo_statistics.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

const char magic[] = "delogo logo statistics\n"; // what `head -1` shows of the file
constexpr size_t magic_size = sizeof magic - 1;

void put32(std::string& b, uint32_t v) {
    for (int k = 0; k < 4; ++k)
        b.push_back(char((v >> (8 * k)) & 0xFF));
}

uint32_t get32(const std::string& b, size_t at) {
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k)
        v |= uint32_t(uint8_t(b[at + size_t(k)])) << (8 * k);
    return v;
}

void put_double(std::string& b, double d) {
    uint64_t v;
    memcpy(&v, &d, sizeof v);
    put32(b, uint32_t(v));
    put32(b, uint32_t(v >> 32));
}

double get_double(const std::string& b, size_t at) {
    const uint64_t v = uint64_t(get32(b, at)) | uint64_t(get32(b, at + 4)) << 32;
    double d;
    memcpy(&d, &v, sizeof d);
    return d;
}

size_t plane_size(const logo_statistics& st, int p) {
    const plane_rect r = plane_rect_of(st, p);
    return size_t(r.w) * size_t(r.h);
}

} // namespace

plane_rect plane_rect_of(const logo_statistics& st, int p) {
    if (p == 0) return st.r;
    return plane_rect{st.r.x >> st.shift_x, st.r.y >> st.shift_y, st.r.w >> st.shift_x,
                      st.r.h >> st.shift_y};
}

logo_statistics empty_statistics(int frame_width, int frame_height, int shift_x, int shift_y,
                                 int planes, plane_rect r) {
    logo_statistics st;
    st.frame_width = frame_width;
    st.frame_height = frame_height;
    st.shift_x = shift_x;
    st.shift_y = shift_y;
    st.planes = planes;
    st.r = r;
    for (int p = 0; p < planes; ++p) {
        st.mean[p].assign(plane_size(st, p), 0.0f);
        st.deviation[p].assign(plane_size(st, p), 0.0f);
    }
    return st;
}

bool add_recording(logo_statistics& st, const corner_samples& s, int x, int y,
                   const std::vector<float>& weight) {
    if (st.r.x < x || st.r.y < y || st.r.x + st.r.w > x + s.luma.width ||
        st.r.y + st.r.h > y + s.luma.height || (st.planes > 1 && s.cb.width == 0))
        return false;
    logo_statistics one = empty_statistics(st.frame_width, st.frame_height, st.shift_x,
                                           st.shift_y, st.planes, st.r);
    for (int i = 0; i < s.luma.count(); ++i)
        if (weight[size_t(i)] > 0) {
            one.weight += weight[size_t(i)];
            ++one.samples;
        }
    if (one.weight <= 0) return false;
    one.recordings = 1;
    for (int p = 0; p < st.planes; ++p) {
        const plane_samples& ps = p == 0 ? s.luma : p == 1 ? s.cb : s.cr;
        plane_rect r = plane_rect_of(st, p);
        r.x -= p == 0 ? x : x >> st.shift_x;
        r.y -= p == 0 ? y : y >> st.shift_y;
        field mean, spread;
        weighted_moments(ps, weight, r, mean, spread);
        for (size_t i = 0; i < mean.size(); ++i) {
            one.mean[p][i] = mean[i];
            one.deviation[p][i] = float(double(spread[i]) * spread[i] * one.weight);
        }
    }
    return add_statistics(st, one);
}

bool add_statistics(logo_statistics& st, const logo_statistics& more) {
    if (st.frame_width != more.frame_width || st.frame_height != more.frame_height ||
        st.shift_x != more.shift_x || st.shift_y != more.shift_y || st.planes != more.planes ||
        st.r.x != more.r.x || st.r.y != more.r.y || st.r.w != more.r.w || st.r.h != more.r.h)
        return false;
    const double total = st.weight + more.weight;
    if (more.weight <= 0) return true;
    for (int p = 0; p < st.planes; ++p)
        for (size_t i = 0; i < st.mean[p].size(); ++i) {
            const double d = double(more.mean[p][i]) - st.mean[p][i];
            st.mean[p][i] = float(st.mean[p][i] + d * more.weight / total);
            st.deviation[p][i] = float(double(st.deviation[p][i]) + more.deviation[p][i] +
                                       d * d * st.weight * more.weight / total);
        }
    st.weight = total;
    st.recordings += more.recordings;
    st.samples += more.samples;
    return true;
}

graphic_moments moments_of(const logo_statistics& st) {
    graphic_moments m;
    m.shift_x = st.shift_x;
    m.shift_y = st.shift_y;
    m.mean.assign(st.mean[0].begin(), st.mean[0].end());
    m.spread.resize(m.mean.size());
    for (size_t i = 0; i < m.spread.size(); ++i)
        m.spread[i] = st.weight > 0 ? float(std::sqrt(std::max(0.0, st.deviation[0][i] / st.weight))) : 0.0f;
    if (st.planes > 1) {
        m.mean_cb.assign(st.mean[1].begin(), st.mean[1].end());
        m.mean_cr.assign(st.mean[2].begin(), st.mean[2].end());
    }
    return m;
}

// The layout: the magic line; version; frame width, height; shift x, y; planes; r x, y, w,
// h; recordings; samples (each 32 bits, little endian); the weight (an IEEE double, little
// endian); the payload's size compressed and raw (32 bits each); the payload (zlib: per
// plane its means, then its deviations, 32-bit IEEE floats, little endian, row after row);
// the CRC-32 of every byte before it.
std::string encode_statistics(const logo_statistics& st) {
    std::string raw;
    for (int p = 0; p < st.planes; ++p)
        for (const std::vector<float>* v : {&st.mean[p], &st.deviation[p]})
            for (float f : *v) {
                uint32_t bits;
                memcpy(&bits, &f, sizeof bits);
                put32(raw, bits);
            }
    uLongf packed_size = compressBound(uLong(raw.size()));
    std::string packed(packed_size, '\0');
    compress2(reinterpret_cast<Bytef*>(&packed[0]), &packed_size,
              reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()), 6);
    packed.resize(packed_size);
    std::string b(magic, magic_size);
    for (int v : {statistics_version, st.frame_width, st.frame_height, st.shift_x, st.shift_y,
                  st.planes, st.r.x, st.r.y, st.r.w, st.r.h, st.recordings, st.samples})
        put32(b, uint32_t(v));
    put_double(b, st.weight);
    put32(b, uint32_t(packed.size()));
    put32(b, uint32_t(raw.size()));
    b += packed;
    put32(b, uint32_t(crc32(0L, reinterpret_cast<const Bytef*>(b.data()), uInt(b.size()))));
    return b;
}

std::string decode_statistics(const std::string& b, logo_statistics& out) {
    const size_t head = magic_size + 12 * 4 + 8 + 8;
    if (b.size() < magic_size || b.compare(0, magic_size, magic) != 0)
        return "not a logo statistics file";
    if (b.size() >= magic_size + 4 && int(get32(b, magic_size)) > statistics_version)
        return "written by a newer delogo-apply (format version " +
               std::to_string(get32(b, magic_size)) + "; this one reads version " +
               std::to_string(statistics_version) + " and older)";
    if (b.size() < head + 4) return "damaged: cut short";
    if (get32(b, b.size() - 4) != uint32_t(crc32(0L, reinterpret_cast<const Bytef*>(b.data()),
                                                  uInt(b.size() - 4))))
        return "damaged: its checksum does not match";
    int v[12];
    for (int k = 0; k < 12; ++k)
        v[k] = int(get32(b, magic_size + 4 * size_t(k)));
    if (v[0] < 1) return "damaged: version " + std::to_string(v[0]);
    logo_statistics st;
    st.frame_width = v[1];
    st.frame_height = v[2];
    st.shift_x = v[3];
    st.shift_y = v[4];
    st.planes = v[5];
    st.r = plane_rect{v[6], v[7], v[8], v[9]};
    st.recordings = v[10];
    st.samples = v[11];
    st.weight = get_double(b, magic_size + 48);
    const uint32_t packed_size = get32(b, magic_size + 56), raw_size = get32(b, magic_size + 60);
    const bool sizes_fit =
        st.frame_width > 0 && st.frame_height > 0 && st.frame_width <= 16384 &&
        st.frame_height <= 16384 && st.shift_x >= 0 && st.shift_x <= 2 && st.shift_y >= 0 &&
        st.shift_y <= 2 && (st.planes == 1 || st.planes == 3) && st.r.x >= 0 && st.r.y >= 0 &&
        st.r.w > 0 && st.r.h > 0 && st.r.x + st.r.w <= st.frame_width &&
        st.r.y + st.r.h <= st.frame_height && std::isfinite(st.weight) && st.weight >= 0 &&
        size_t(packed_size) == b.size() - head - 4;
    if (!sizes_fit) return "damaged: its sizes do not fit together";
    size_t values = 0;
    for (int p = 0; p < st.planes; ++p)
        values += 2 * plane_size(st, p);
    if (size_t(raw_size) != 4 * values) return "damaged: its sizes do not fit together";
    std::string raw(raw_size, '\0');
    uLongf got = raw_size;
    if (uncompress(reinterpret_cast<Bytef*>(&raw[0]), &got,
                   reinterpret_cast<const Bytef*>(b.data() + head), packed_size) != Z_OK ||
        got != raw_size)
        return "damaged: its payload does not unpack";
    size_t at = 0;
    for (int p = 0; p < st.planes; ++p)
        for (std::vector<float>* vec : {&st.mean[p], &st.deviation[p]}) {
            vec->resize(plane_size(st, p));
            for (float& f : *vec) {
                const uint32_t bits = get32(raw, at);
                memcpy(&f, &bits, sizeof f);
                at += 4;
            }
        }
    out = std::move(st);
    return "";
}
