// image_file.h - pictures for virtual readers, and image files out.
//
// Holds: GreyImage; PGM (P5, P2) and BMP (8-bit palette, 24- and 32-bit)
// reading (the writers are in image_encode.h); FitToSensor; SyntheticFingerprint;
// LoadReaderImage and MakeReader, which turn a reader description into a
// reader with its picture and replay bytes.
// Needs reader.h and description.h. User mode only: heap, files, <cmath>.
#ifndef VREADER_MODEL_IMAGE_FILE_H
#define VREADER_MODEL_IMAGE_FILE_H

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "description.h"
#include "image_encode.h"  // EncodeBmp, EncodePng
#include "reader.h"

namespace vreader {

// Grey pixels, rows top to bottom.
struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

// A PGM or BMP file's contents, told apart by their first bytes. False
// with a message for anything malformed, truncated or of a kind not read.
bool DecodeGreyImage(const uint8_t *data, size_t size, GreyImage *image,
                     std::string *error);
bool LoadGreyImage(const std::string &path, GreyImage *image, std::string *error);

// The picture onto the 400 x 302 sensor: a picture of that size is copied
// as it is; any other is scaled, keeping its aspect ratio, until it covers
// the sensor, and its centre is cropped out (box-averaged when shrinking,
// bilinear when growing).
void FitToSensor(const GreyImage &picture, uint8_t *image400x302);

// A made-up fingerprint of the sensor's size: ridges about 9 pixels
// apart following an orientation field with a core and a delta (two of
// each for whorls), minutiae where the ridges grow apart, inside an
// elliptical contact area on a light background. Each seed gives a
// different finger.
void SyntheticFingerprint(uint32_t seed, uint8_t *image400x302);

// The picture a description names with its key image: a PGM or BMP file,
// "synthetic:SEED", or (no image given) a blank sensor of 255s.
bool LoadReaderImage(const Description &description, uint8_t *image400x302,
                     std::string *error);

bool ReadWholeFile(const std::string &path, std::vector<uint8_t> *bytes,
                   std::string *error);
bool WriteWholeFile(const std::string &path, const std::vector<uint8_t> &bytes,
                    std::string *error);

// A reader ready for the host backend or the driver: the description
// parsed, its picture loaded, its replay file read (the reader points at
// replay, which must live as long as it). Relative file names in the
// description are taken from baseDirectory when that is not empty.
struct LoadedReader {
    Description description;
    std::unique_ptr<Reader> reader;
    std::vector<uint8_t> replay;
};
bool MakeReader(const std::string &descriptionText, const std::string &baseDirectory,
                LoadedReader *loaded, std::string *error);

}  // namespace vreader

#endif
