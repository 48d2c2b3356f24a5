// The fields of Quake-family map text ("-only"): which numbers of a line are
// plane points, texture values, patch points or entity key values. Each
// line is recognised by its own text, so a damaged file is still read where
// its lines are clear. Pure: text in, positions out.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

enum MapField : unsigned {
    kPlanes = 1,     // the 3 x 3 numbers of a brush face's points; a brushDef3 face's 4
    kOffsets = 2,    // a face's two texture shifts (Valve 220: the last number in each [ ])
    kRotation = 4,   // a face's texture rotation
    kScales = 8,     // a face's two texture scales
    kAxes = 16,      // the first three numbers in each Valve 220 [ ]
    kMatrix = 32,    // the six numbers of a brush-primitive or brushDef3 texture matrix
    kFlags = 64,     // the content, surface and value integers that end a face
    kTexture = kOffsets | kRotation | kScales | kAxes | kMatrix | kFlags,  // all of a face's texture values
    kPatches = 128,  // patchDef2/patchDef3 control points and their size line
    kKeys = 256,     // an entity key's value made only of numbers
};

// The words "-only" takes, in the order its error message names them.
struct FieldName {
    std::string_view name;
    unsigned fields;
};
inline constexpr FieldName kFieldNames[] = {
    {"planes", kPlanes}, {"texture", kTexture}, {"offsets", kOffsets}, {"rotation", kRotation},
    {"scales", kScales}, {"axes", kAxes},       {"matrix", kMatrix},   {"flags", kFlags},
    {"patches", kPatches}, {"keys", kKeys},
};

// One number of a line that belongs to a field: the bytes [begin, end) of
// the line.
struct FieldNumber {
    size_t begin;
    size_t end;
    MapField field;
};

// The numbers of `line` (one line, with or without its line end) that
// belong to a field, in order. Leading blanks, a trailing "//" comment and a
// CR are allowed; a line that fits none of the shapes has none.
std::vector<FieldNumber> field_numbers(std::string_view line);

// For a scan in text order: whether a token is a whole number of one of
// `fields`. Finds each token's line and reads its fields once per line.
class FieldFilter {
public:
    FieldFilter(std::string_view text, unsigned fields) : text_(text), fields_(fields) {}
    // True when text[offset, offset + length) is exactly a number of a
    // field in `fields`. Offsets must not go back from one call to the next.
    bool allows(size_t offset, size_t length);

private:
    std::string_view text_;
    unsigned fields_;
    size_t lineStart_ = 0;
    size_t lineEnd_ = 0;  // past the line's '\n'; 0 before the first line is read
    std::vector<FieldNumber> numbers_;
    size_t next_ = 0;     // the first of numbers_ that may still match
};
