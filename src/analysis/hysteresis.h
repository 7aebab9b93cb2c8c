// Non-maximum suppression and hysteresis of the Canny edge detector.
#pragma once

#include <cstddef>
#include <cstdint>

// Images are width x rows, row-major, y downward. Writes `suppressed`: 0 on the
// one-pixel border ring, 128 for a ridge candidate, 255 for a suppressed pixel.
void non_max_supp(const int16_t* magnitude, const int16_t* dx, const int16_t* dy, int rows,
                  int width, uint8_t* suppressed);

// Writes `edges`: 0 for an edge pixel, 255 otherwise; thresholds come from the
// histogram of the candidates' magnitudes and the fractions tlow, thigh in (0, 1].
void apply_hysteresis(const int16_t* magnitude, const uint8_t* suppressed, int rows, int width,
                      uint8_t* edges, float tlow, float thigh);

// Marks as edges (0) the candidates (128) reachable from the pixel at edge_at through
// 8-connected candidates whose magnitude is above `low`. The pixel must lie off the
// border ring. edge_at and magnitude_at address the same pixel. Uses no recursion and
// no memory of its own: the way back is kept in the edge map while it is followed.
void follow_edges(uint8_t* edge_at, const int16_t* magnitude_at, int16_t low, int width);

// The hysteresis thresholds from the magnitudes of the `count` pixels whose `edges`
// value is 128 (candidates): high starts an edge, low (<= high) is what a joined
// neighbour must exceed.
void hysteresis_thresholds(const int16_t* magnitude, const uint8_t* edges, size_t count, float tlow,
                           float thigh, int& high, int16_t& low);
