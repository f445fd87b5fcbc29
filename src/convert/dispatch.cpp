// Converter selection.
#include "convert/dispatch.h"

namespace kestra {

const ConverterTable &Converters() {
    static const ConverterTable table{yv12_to_rgb24_c, yv12_to_rgb565_strided_c,
                                      yv12_to_uyvy_mmx};
    return table;
}

}  // namespace kestra
