// An engine that converts text held in a source buffer into a target buffer. Conversion may
// stop short of the end of the source when the last units cannot be converted yet (half of a
// character): they stay in the source buffer so that text appended later completes them.
#pragma once

#include <utility>

#include "text/bbl_smart_base.h"

namespace babel {

template <class Source, class Target>
class bbl_translate_engine : public bbl_smart_base {
public:
    using source_type = Source;
    using target_type = Target;

    ~bbl_translate_engine() override = default;

    // Converts as much of the source buffer as can be converted, appends the result to the
    // target buffer and leaves only the unconvertible tail in the source buffer.
    virtual void translate() = 0;
    // Disposes of the tail that translate() left behind, writing a replacement for it.
    virtual void flush() = 0;
    // Empties both buffers.
    // Capacity is kept, so an engine reused for many texts stops allocating.
    virtual void clear() {
        source_.clear();
        target_.clear();
    }

    Source& source() noexcept { return source_; }
    const Source& source() const noexcept { return source_; }
    Target& target() noexcept { return target_; }
    const Target& target() const noexcept { return target_; }

protected:
    bbl_translate_engine() = default;
    explicit bbl_translate_engine(Source source) : source_(std::move(source)) {}

    Source source_;  // text not yet converted
    Target target_;  // converted text
};

}  // namespace babel
