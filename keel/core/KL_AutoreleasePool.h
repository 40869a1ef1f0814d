// A scope around each runtime thread body and each platform query, in which the platform may
// collect temporary objects; they are released when the pool goes out of scope. Lives on the
// stack of the code it wraps.
#pragma once

class KL_AutoreleasePoolInterface {
public:
    virtual ~KL_AutoreleasePoolInterface() = default;
};

class KL_AutoreleasePool : public KL_AutoreleasePoolInterface {
public:
    KL_AutoreleasePool();
    ~KL_AutoreleasePool() override;
    KL_AutoreleasePool(const KL_AutoreleasePool&) = delete;
    KL_AutoreleasePool& operator=(const KL_AutoreleasePool&) = delete;

private:
    KL_AutoreleasePoolInterface* m_Delegate;
};
