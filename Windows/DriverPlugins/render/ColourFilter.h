// The outside colour filter's object, as its library's "GetFilter" returns
// it. The first table slot is never called by us, so it is declared as a
// plain placeholder rather than a virtual destructor (which would take two
// slots and shift the others).
#pragma once

class ColourFilter {
public:
    virtual void Reserved() = 0;
    // The filter data file, once per device.
    virtual void LoadData(const char* path, int length) = 0;
    // Changes one row in place; 24 bits per pixel, blue, green, red.
    virtual void FilterRow(unsigned char* row, int bytes, int bitsPerPixel) = 0;

protected:
    ~ColourFilter() = default;
};

using GetFilterFunction = ColourFilter* (*)();
