// image_file.cpp - pictures in, image files out, and the synthetic finger.
#include "image_file.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

namespace vreader {

namespace {

constexpr int kMaxSide = 16384;  // a picture larger than this is refused

bool Fail(std::string *error, const std::string &message) {
    if (error) *error = message;
    return false;
}

uint32_t Le16(const uint8_t *p) { return p[0] | (p[1] << 8); }
uint32_t Le32(const uint8_t *p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// --- PGM ---

struct PgmReader {
    const uint8_t *p, *end;
    void SkipSpace() {
        while (p < end) {
            if (*p == '#') {
                while (p < end && *p != '\n') ++p;
            } else if (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') {
                ++p;
            } else {
                break;
            }
        }
    }
    bool Number(uint32_t *value) {
        SkipSpace();
        if (p == end || *p < '0' || *p > '9') return false;
        uint64_t v = 0;
        while (p < end && *p >= '0' && *p <= '9') {
            v = v * 10 + (*p++ - '0');
            if (v > 0xFFFFFFFFu) return false;
        }
        *value = static_cast<uint32_t>(v);
        return true;
    }
};

bool DecodePgm(const uint8_t *data, size_t size, GreyImage *image, std::string *error) {
    PgmReader r{data + 2, data + size};
    const bool binary = data[1] == '5';
    uint32_t width, height, maxValue;
    if (!r.Number(&width) || !r.Number(&height) || !r.Number(&maxValue))
        return Fail(error, "PGM header is incomplete");
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide)
        return Fail(error, "PGM size out of range");
    if (maxValue == 0 || maxValue > 65535) return Fail(error, "PGM maximum value out of range");
    const size_t count = static_cast<size_t>(width) * height;
    image->width = static_cast<int>(width);
    image->height = static_cast<int>(height);
    image->pixels.assign(count, 0);
    auto scale = [maxValue](uint32_t v) {
        if (v > maxValue) v = maxValue;
        return static_cast<uint8_t>((v * 255u + maxValue / 2) / maxValue);
    };
    if (binary) {
        // Exactly one whitespace byte ends the header of a binary PGM.
        if (r.p == r.end) return Fail(error, "PGM data missing");
        ++r.p;
        const size_t bytes = maxValue > 255 ? 2 : 1;
        if (static_cast<size_t>(r.end - r.p) < count * bytes) return Fail(error, "PGM data is truncated");
        for (size_t i = 0; i < count; ++i) {
            uint32_t v = bytes == 2 ? (r.p[2 * i] << 8) | r.p[2 * i + 1] : r.p[i];
            image->pixels[i] = scale(v);
        }
    } else {
        for (size_t i = 0; i < count; ++i) {
            uint32_t v;
            if (!r.Number(&v)) return Fail(error, "PGM data is truncated");
            image->pixels[i] = scale(v);
        }
    }
    return true;
}

// --- BMP ---

uint8_t Luma(uint32_t red, uint32_t green, uint32_t blue) {
    return static_cast<uint8_t>((77 * red + 150 * green + 29 * blue + 128) >> 8);
}

bool DecodeBmp(const uint8_t *data, size_t size, GreyImage *image, std::string *error) {
    if (size < 14 + 40) return Fail(error, "BMP headers are truncated");
    const uint32_t pixelOffset = Le32(data + 10);
    const uint32_t infoSize = Le32(data + 14);
    if (infoSize < 40 || 14 + static_cast<uint64_t>(infoSize) > size)
        return Fail(error, "BMP info header is not one this reads");
    const int32_t width = static_cast<int32_t>(Le32(data + 18));
    const int32_t rawHeight = static_cast<int32_t>(Le32(data + 22));
    const uint32_t bits = Le16(data + 28);
    const uint32_t compression = Le32(data + 30);
    uint32_t colours = Le32(data + 46);
    if (compression != 0) return Fail(error, "compressed BMP files are not read");
    if (bits != 8 && bits != 24 && bits != 32) return Fail(error, "BMP must have 8, 24 or 32 bits per pixel");
    if (rawHeight == INT32_MIN) return Fail(error, "BMP size out of range");
    const bool topDown = rawHeight < 0;
    const int32_t height = topDown ? -rawHeight : rawHeight;
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return Fail(error, "BMP size out of range");
    uint8_t palette[256];
    if (bits == 8) {
        if (colours == 0 || colours > 256) colours = 256;
        const uint64_t paletteAt = 14 + static_cast<uint64_t>(infoSize);
        if (paletteAt + 4ull * colours > size) return Fail(error, "BMP palette is truncated");
        memset(palette, 0, sizeof palette);
        for (uint32_t i = 0; i < colours; ++i) {
            const uint8_t *q = data + paletteAt + 4 * i;
            palette[i] = Luma(q[2], q[1], q[0]);
        }
    }
    const uint64_t stride = ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4;
    if (pixelOffset + stride * height > size) return Fail(error, "BMP pixel data is truncated");
    image->width = width;
    image->height = height;
    image->pixels.assign(static_cast<size_t>(width) * height, 0);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t *row = data + pixelOffset + stride * (topDown ? y : height - 1 - y);
        uint8_t *out = &image->pixels[static_cast<size_t>(width) * y];
        for (int32_t x = 0; x < width; ++x) {
            if (bits == 8) {
                out[x] = palette[row[x]];
            } else {
                const uint8_t *q = row + x * (bits / 8);
                out[x] = Luma(q[2], q[1], q[0]);
            }
        }
    }
    return true;
}

// --- the synthetic finger ---

// splitmix64: the same numbers for a seed on every build.
struct Random {
    uint64_t state;
    uint64_t Next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double Uniform() { return (Next() >> 11) * (1.0 / 9007199254740992.0); }
    double Between(double low, double high) { return low + (high - low) * Uniform(); }
};

constexpr double kPi = 3.14159265358979323846;

struct Singularity {
    double x, y;
};

}  // namespace

bool DecodeGreyImage(const uint8_t *data, size_t size, GreyImage *image,
                     std::string *error) {
    if (size >= 2 && data[0] == 'P' && (data[1] == '5' || data[1] == '2'))
        return DecodePgm(data, size, image, error);
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') return DecodeBmp(data, size, image, error);
    return Fail(error, "not a PGM (P5, P2) or BMP file");
}

bool ReadWholeFile(const std::string &path, std::vector<uint8_t> *bytes, std::string *error) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return Fail(error, "cannot open " + path);
    bytes->clear();
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes->insert(bytes->end(), chunk, chunk + n);
    bool bad = ferror(f) != 0;
    fclose(f);
    if (bad) return Fail(error, "cannot read " + path);
    return true;
}

bool WriteWholeFile(const std::string &path, const std::vector<uint8_t> &bytes, std::string *error) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return Fail(error, "cannot create " + path);
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = fclose(f) == 0 && ok;
    if (!ok) return Fail(error, "cannot write " + path);
    return true;
}

bool LoadGreyImage(const std::string &path, GreyImage *image, std::string *error) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, &bytes, error)) return false;
    std::string why;
    if (!DecodeGreyImage(bytes.data(), bytes.size(), image, &why)) return Fail(error, path + ": " + why);
    return true;
}

void FitToSensor(const GreyImage &picture, uint8_t *out) {
    const int W = static_cast<int>(kImageWidth), H = static_cast<int>(kImageHeight);
    if (picture.width == W && picture.height == H) {
        memcpy(out, picture.pixels.data(), kImageSize);
        return;
    }
    // Source pixels per sensor pixel, the same both ways.
    const double scale = std::min(static_cast<double>(picture.width) / W,
                                  static_cast<double>(picture.height) / H);
    const double left = (picture.width - W * scale) / 2, top = (picture.height - H * scale) / 2;
    auto at = [&](int x, int y) {
        x = std::min(std::max(x, 0), picture.width - 1);
        y = std::min(std::max(y, 0), picture.height - 1);
        return static_cast<double>(picture.pixels[static_cast<size_t>(picture.width) * y + x]);
    };
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            double value;
            if (scale > 1) {
                int x0 = static_cast<int>(left + x * scale), x1 = static_cast<int>(left + (x + 1) * scale);
                int y0 = static_cast<int>(top + y * scale), y1 = static_cast<int>(top + (y + 1) * scale);
                x1 = std::max(x1, x0 + 1);
                y1 = std::max(y1, y0 + 1);
                double sum = 0;
                for (int v = y0; v < y1; ++v)
                    for (int u = x0; u < x1; ++u) sum += at(u, v);
                value = sum / ((x1 - x0) * (y1 - y0));
            } else {
                double sx = left + (x + 0.5) * scale - 0.5, sy = top + (y + 0.5) * scale - 0.5;
                int ix = static_cast<int>(floor(sx)), iy = static_cast<int>(floor(sy));
                double fx = sx - ix, fy = sy - iy;
                value = (at(ix, iy) * (1 - fx) + at(ix + 1, iy) * fx) * (1 - fy) +
                        (at(ix, iy + 1) * (1 - fx) + at(ix + 1, iy + 1) * fx) * fy;
            }
            out[W * y + x] = static_cast<uint8_t>(std::min(255.0, std::max(0.0, value + 0.5)));
        }
    }
}

void SyntheticFingerprint(uint32_t seed, uint8_t *out) {
    const int W = static_cast<int>(kImageWidth), H = static_cast<int>(kImageHeight);
    Random random{0x5EEDF1A6E4ull ^ (static_cast<uint64_t>(seed) * 0x2545F4914F6CDD1Dull)};
    random.Next();

    // The finger: an ellipse, a little off centre and tilted.
    const double cx = W / 2.0 + random.Between(-20, 20), cy = H / 2.0 + random.Between(-10, 15);
    const double ax = random.Between(120, 150), ay = random.Between(125, 150);
    const double tilt = random.Between(-0.25, 0.25);

    // The orientation field: a zero-pole model, cores counted +1/2 and
    // deltas -1/2 turns. Loops lean left or right, whorls have two cores.
    std::vector<Singularity> cores, deltas;
    const int kind = static_cast<int>(random.Next() % 5);  // 0,1 left loop; 2,3 right loop; 4 whorl
    const double side = kind < 2 ? -1 : 1;
    if (kind < 4) {
        cores.push_back({cx + side * random.Between(0, 20), cy - random.Between(5, 35)});
        deltas.push_back({cx - side * random.Between(50, 90), cy + random.Between(70, 110)});
    } else {
        double dx = random.Between(4, 10), dy = random.Between(8, 16);
        cores.push_back({cx - dx, cy - dy - 10});
        cores.push_back({cx + dx, cy + dy - 10});
        deltas.push_back({cx - random.Between(90, 120), cy + random.Between(70, 100)});
        deltas.push_back({cx + random.Between(90, 120), cy + random.Between(70, 100)});
    }
    const double period = random.Between(8.5, 9.8);
    std::vector<float> angle(static_cast<size_t>(W) * H);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            double theta = tilt;
            // Image y grows downward; the field is built in upward y.
            for (const Singularity &c : cores) theta += 0.5 * atan2(-(y - c.y), x - c.x);
            for (const Singularity &d : deltas) theta -= 0.5 * atan2(-(y - d.y), x - d.x);
            angle[static_cast<size_t>(W) * y + x] = static_cast<float>(theta);
        }
    }

    // Ridges: oriented Gabor filtering of noise, repeated until the
    // pattern settles (the way synthetic fingerprint generators grow
    // theirs); it follows the field and leaves minutiae where it must.
    constexpr int kBins = 32, kRadius = 6, kSide = 2 * kRadius + 1;
    std::vector<float> kernels(static_cast<size_t>(kBins) * kSide * kSide);
    const double sigma = 3.6, frequency = 1.0 / period;
    for (int b = 0; b < kBins; ++b) {
        const double ridge = kPi * b / kBins;  // direction along the ridges
        const double ux = cos(ridge), uy = -sin(ridge);
        float *k = &kernels[static_cast<size_t>(b) * kSide * kSide];
        double sum = 0;
        for (int v = -kRadius; v <= kRadius; ++v)
            for (int u = -kRadius; u <= kRadius; ++u) {
                double along = u * ux + v * uy, across = -u * uy + v * ux;
                double g = exp(-(along * along + across * across) / (2 * sigma * sigma)) *
                           cos(2 * kPi * frequency * across);
                k[(v + kRadius) * kSide + u + kRadius] = static_cast<float>(g);
                sum += fabs(g);
            }
        for (int i = 0; i < kSide * kSide; ++i) k[i] = static_cast<float>(k[i] / sum * 4);
    }
    std::vector<int> bin(angle.size());
    for (size_t i = 0; i < angle.size(); ++i) {
        double a = fmod(angle[i], kPi);
        if (a < 0) a += kPi;
        bin[i] = static_cast<int>(a / kPi * kBins + 0.5) % kBins;
    }
    std::vector<float> field(angle.size()), next(angle.size());
    for (float &f : field) f = static_cast<float>(random.Uniform() < 0.02 ? random.Between(-1, 1) : 0);
    auto filter = [&](float gain) {
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) {
                const size_t at = static_cast<size_t>(W) * y + x;
                const float *k = &kernels[static_cast<size_t>(bin[at]) * kSide * kSide];
                float sum = 0;
                for (int v = -kRadius; v <= kRadius; ++v) {
                    int yy = std::min(std::max(y + v, 0), H - 1);
                    const float *row = &field[static_cast<size_t>(W) * yy];
                    const float *kr = k + (v + kRadius) * kSide + kRadius;
                    for (int u = -kRadius; u <= kRadius; ++u) {
                        int xx = std::min(std::max(x + u, 0), W - 1);
                        sum += kr[u] * row[xx];
                    }
                }
                next[at] = std::min(1.0f, std::max(-1.0f, sum * gain));
            }
        }
        field.swap(next);
    };
    for (int pass = 0; pass < 8; ++pass) filter(2.5f);
    filter(0.9f);  // a last gentle pass rounds the ridges' profile

    // Pressure: a few slow waves across the finger, so ridges are not all
    // equally dark.
    double waves[3][4];
    for (auto &w : waves) {
        double a = random.Between(0, 2 * kPi);
        w[0] = cos(a) * random.Between(0.008, 0.02);
        w[1] = sin(a) * random.Between(0.008, 0.02);
        w[2] = random.Between(0, 2 * kPi);
        w[3] = random.Between(0.04, 0.1);
    }

    // Grey: dark ridges inside the contact area, thinning and breaking up
    // towards its rim, on a light background with a little sensor noise.
    const double ct = cos(tilt), st = sin(tilt);
    const double depth = random.Between(150, 185);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const double dx = x - cx, dy = y - cy;
            const double ex = (dx * ct - dy * st) / ax, ey = (dx * st + dy * ct) / ay;
            const double r = sqrt(ex * ex + ey * ey);
            double pressure = 1;
            for (const auto &w : waves) pressure += w[3] * sin(w[0] * x + w[1] * y + w[2]);
            // Less pressure near the rim: ridges narrow, then vanish.
            pressure -= r < 0.7 ? 0 : (r - 0.7) * 3.2;
            const double ridge = field[static_cast<size_t>(W) * y + x];  // -1 valley .. 1 ridge
            double ink = (ridge + pressure - 1) * 1.6;
            ink = ink < 0 ? 0 : ink > 1 ? 1 : ink * ink * (3 - 2 * ink);
            double value = 228 - depth * ink * (pressure < 0.2 ? 0.2 : pressure > 1.1 ? 1.1 : pressure);
            value += (random.Uniform() - 0.5) * 12;
            out[W * y + x] = static_cast<uint8_t>(std::min(255.0, std::max(0.0, value)));
        }
    }
}

bool LoadReaderImage(const Description &description, uint8_t *image, std::string *error) {
    const char *name = description.image;
    if (!*name) {
        memset(image, 255, kImageSize);
        return true;
    }
    static const char kSynthetic[] = "synthetic:";
    if (strncmp(name, kSynthetic, sizeof kSynthetic - 1) == 0) {
        const char *digits = name + sizeof kSynthetic - 1;
        char *end = nullptr;
        unsigned long seed = strtoul(digits, &end, 10);
        if (!*digits || *end || *digits == '-' || seed > 0xFFFFFFFFul)
            return Fail(error, std::string("synthetic image needs a seed number: ") + name);
        SyntheticFingerprint(static_cast<uint32_t>(seed), image);
        return true;
    }
    GreyImage picture;
    if (!LoadGreyImage(name, &picture, error)) return false;
    FitToSensor(picture, image);
    return true;
}

bool MakeReader(const std::string &text, const std::string &base, LoadedReader *loaded,
                std::string *error) {
    ParseError parseError;
    if (!ParseDescription(text.data(), text.size(), &loaded->description, &parseError))
        return Fail(error, parseError.message);
    Description &d = loaded->description;
    auto resolve = [&base](char *name) {
        if (!*name || base.empty() || name[0] == '/' || name[0] == '\\' ||
            (name[0] && name[1] == ':') || strncmp(name, "synthetic:", 10) == 0)
            return true;
        std::string full = base + "/" + name;
        if (full.size() >= kPathSize) return false;
        strcpy(name, full.c_str());
        return true;
    };
    if (!resolve(d.image) || !resolve(d.replay)) return Fail(error, "file name too long");
    loaded->reader = std::make_unique<Reader>();
    loaded->reader->Init(d);
    if (!LoadReaderImage(d, loaded->reader->Image(), error)) return false;
    loaded->replay.clear();
    if (*d.replay) {
        if (!ReadWholeFile(d.replay, &loaded->replay, error)) return false;
        if (loaded->replay.size() > 0xFFFFFFFFu) return Fail(error, "replay file too large");
        // An empty recording still replaces the generated stream.
        static const uint8_t kNothing = 0;
        loaded->reader->SetReplay(loaded->replay.empty() ? &kNothing : loaded->replay.data(),
                                  static_cast<uint32_t>(loaded->replay.size()));
    }
    return true;
}

}  // namespace vreader
