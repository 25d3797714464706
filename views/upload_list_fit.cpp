#include "views/upload_list_fit.h"

#include <vector>

std::string FitTextToWidth(std::string_view text, int width, std::string_view ellipsis, const TextWidthMeasure& measure) {
    if (measure(text) <= width)
        return std::string(text);
    const int room = width - measure(ellipsis);
    // The ends of whole UTF-8 characters: a cut anywhere else would leave a broken character.
    std::vector<size_t> ends;
    for (size_t i = 1; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            ends.push_back(i);
    }
    // Prefix widths grow with their length, so the longest fitting prefix is found by halving.
    size_t low = 0, high = ends.size(); // ends[0 .. low) fit, ends[high ..) do not
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if (measure(text.substr(0, ends[mid])) <= room)
            low = mid + 1;
        else
            high = mid;
    }
    std::string fitted(text.substr(0, low == 0 ? 0 : ends[low - 1]));
    fitted += ellipsis;
    return fitted;
}
