// The vtable that the compiler's RTTI descriptors point at: ::type_info's, which Microsoft's
// runtime provides and Wine's import libraries do not. libc++'s std::type_info has the same
// layout; only the vtable's address is ever used. Built without RTTI, so that this class's own
// descriptor does not refer to the vtable being defined.
class type_info {
public:
    type_info();
    virtual ~type_info();

    // Public only so that the compiler does not call them unused: nothing reads them here.
    void* spare_;
    char name_[1];
};

// Out of line, so that the vtable is emitted here.
type_info::type_info() : spare_(nullptr), name_{0} {}
type_info::~type_info() {}
