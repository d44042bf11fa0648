/* Packs the stub's icon file from reduced images; a build-time tool of make-icons.sh, not part of any stub. */
/* Usage: pack-icon OUT.ico PNG256 (SIZE BITS MASK.gray COLOURS.rgb)...
 * MASK.gray holds one byte a pixel (0 transparent, else opaque), COLOURS.rgb three; both top row first,
 * as ImageMagick writes gray: and rgb:. Images land in the file in the order given, the PNG last. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { MAX_IMAGES = 8, MAX_SIDE = 64, DIB_HEADER_SIZE = 40, ICO_HEADER_SIZE = 6, ICO_ENTRY_SIZE = 16 };

typedef struct IconImage {
    unsigned side, bits, colourCount;
    unsigned char *bytes;
    size_t length;
} IconImage;

static void Fail(const char *what, const char *name)
{
    fprintf(stderr, "pack-icon: %s: %s\n", what, name);
    exit(1);
}

static unsigned char *ReadWholeFile(const char *name, size_t *length)
{
    FILE *f = fopen(name, "rb");
    if (!f) Fail("cannot open", name);
    fseek(f, 0, SEEK_END);
    long size = ftell(f);
    fseek(f, 0, SEEK_SET);
    unsigned char *bytes = malloc(size > 0 ? (size_t)size : 1);
    if (!bytes || fread(bytes, 1, (size_t)size, f) != (size_t)size) Fail("cannot read", name);
    fclose(f);
    *length = (size_t)size;
    return bytes;
}

static void PutLe16(unsigned char *p, unsigned v) { p[0] = v & 0xFF; p[1] = (v >> 8) & 0xFF; }
static void PutLe32(unsigned char *p, uint32_t v) { PutLe16(p, v & 0xFFFF); PutLe16(p + 2, v >> 16); }

/* A DIB as icons store it: the header's height covers the colour bits and the mask together, the
 * palette is always full (2^bits entries), rows run bottom-up and are padded to 32 bits. Entry 0
 * of the palette is black so that a transparent pixel (mask bit set) leaves the screen as it is. */
static IconImage MakeBitmap(unsigned side, unsigned bits, const char *maskName, const char *colourName)
{
    size_t maskLength, colourLength;
    unsigned char *mask = ReadWholeFile(maskName, &maskLength);
    unsigned char *colours = ReadWholeFile(colourName, &colourLength);
    if (side == 0 || side > MAX_SIDE || (bits != 4 && bits != 8)) Fail("bad size or depth", colourName);
    if (maskLength != (size_t)side * side || colourLength != (size_t)side * side * 3) Fail("wrong pixel count", colourName);

    unsigned paletteEntries = 1u << bits;
    uint32_t palette[256] = {0};
    unsigned used = 1;
    unsigned char index[MAX_SIDE * MAX_SIDE];
    for (size_t i = 0; i < (size_t)side * side; i++) {
        uint32_t rgb = (uint32_t)colours[3 * i] << 16 | (uint32_t)colours[3 * i + 1] << 8 | colours[3 * i + 2];
        if (!mask[i]) { index[i] = 0; continue; }
        unsigned k = 0;
        while (k < used && palette[k] != rgb) k++;
        if (k == used) {
            if (used == paletteEntries) Fail("too many colours", colourName);
            palette[used++] = rgb;
        }
        index[i] = (unsigned char)k;
    }

    size_t xorStride = ((size_t)side * bits + 31) / 32 * 4, andStride = ((size_t)side + 31) / 32 * 4;
    size_t xorSize = xorStride * side, andSize = andStride * side;
    IconImage image = {side, bits, bits == 4 ? 16 : 0, NULL, 0};
    image.length = DIB_HEADER_SIZE + 4 * paletteEntries + xorSize + andSize;
    image.bytes = calloc(1, image.length);
    unsigned char *p = image.bytes;
    PutLe32(p, DIB_HEADER_SIZE);
    PutLe32(p + 4, side);
    PutLe32(p + 8, 2 * side);
    PutLe16(p + 12, 1);
    PutLe16(p + 14, bits);
    PutLe32(p + 20, (uint32_t)(xorSize + andSize));
    p += DIB_HEADER_SIZE;
    for (unsigned k = 0; k < paletteEntries; k++, p += 4) {
        p[0] = palette[k] & 0xFF; p[1] = (palette[k] >> 8) & 0xFF; p[2] = (palette[k] >> 16) & 0xFF;
    }
    unsigned char *xorBits = p, *andBits = p + xorSize;
    for (unsigned row = 0; row < side; row++) {
        unsigned char *xorRow = xorBits + xorStride * (side - 1 - row), *andRow = andBits + andStride * (side - 1 - row);
        for (unsigned col = 0; col < side; col++) {
            unsigned k = index[row * side + col];
            if (bits == 8) xorRow[col] = (unsigned char)k;
            else xorRow[col / 2] |= (unsigned char)(col % 2 ? k : k << 4);
            if (!mask[row * side + col]) andRow[col / 8] |= (unsigned char)(0x80 >> (col % 8));
        }
    }
    free(mask);
    free(colours);
    return image;
}

int main(int argc, char **argv)
{
    if (argc < 3 || (argc - 3) % 4 != 0 || (argc - 3) / 4 + 1 > MAX_IMAGES) {
        fprintf(stderr, "usage: pack-icon OUT.ico PNG256 (SIZE BITS MASK.gray COLOURS.rgb)...\n");
        return 2;
    }
    IconImage images[MAX_IMAGES];
    unsigned count = 0;
    for (int a = 3; a < argc; a += 4)
        images[count++] = MakeBitmap((unsigned)atoi(argv[a]), (unsigned)atoi(argv[a + 1]), argv[a + 2], argv[a + 3]);
    IconImage png = {256, 32, 0, NULL, 0};
    png.bytes = ReadWholeFile(argv[2], &png.length);
    images[count++] = png;

    FILE *out = fopen(argv[1], "wb");
    if (!out) Fail("cannot create", argv[1]);
    unsigned char header[ICO_HEADER_SIZE] = {0};
    PutLe16(header + 2, 1);
    PutLe16(header + 4, count);
    fwrite(header, 1, sizeof header, out);
    uint32_t offset = ICO_HEADER_SIZE + ICO_ENTRY_SIZE * count;
    for (unsigned i = 0; i < count; i++) {
        unsigned char entry[ICO_ENTRY_SIZE] = {0};
        /* a side of 256 does not fit the byte and is written as 0 */
        entry[0] = entry[1] = (unsigned char)(images[i].side & 0xFF);
        entry[2] = (unsigned char)images[i].colourCount;
        PutLe16(entry + 4, 1);
        PutLe16(entry + 6, images[i].bits);
        PutLe32(entry + 8, (uint32_t)images[i].length);
        PutLe32(entry + 12, offset);
        offset += (uint32_t)images[i].length;
        fwrite(entry, 1, sizeof entry, out);
    }
    for (unsigned i = 0; i < count; i++) fwrite(images[i].bytes, 1, images[i].length, out);
    if (fclose(out) != 0) Fail("cannot write", argv[1]);
    return 0;
}
