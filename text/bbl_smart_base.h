// Polymorphic root of the text-conversion engines: owners hold engines through it and delete
// them through its virtual destructor.
#pragma once

namespace babel {

class bbl_smart_base {
public:
    virtual ~bbl_smart_base() = default;

protected:
    bbl_smart_base() = default;
    bbl_smart_base(const bbl_smart_base&) = default;
    bbl_smart_base& operator=(const bbl_smart_base&) = default;
    bbl_smart_base(bbl_smart_base&&) = default;
    bbl_smart_base& operator=(bbl_smart_base&&) = default;
};

}  // namespace babel
