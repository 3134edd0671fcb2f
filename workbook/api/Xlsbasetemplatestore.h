// Template workbooks kept inside the program instead of on disk. The store
// itself is abstract; a program that keeps templates derives from it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kalmira {

class TXlsBaseTemplateStore {
public:
    TXlsBaseTemplateStore() = default;
    TXlsBaseTemplateStore(const TXlsBaseTemplateStore&) = delete;
    TXlsBaseTemplateStore& operator=(const TXlsBaseTemplateStore&) = delete;
    virtual ~TXlsBaseTemplateStore() = default;

    // The complete bytes of the stored workbook file of that name.
    virtual std::vector<std::uint8_t> GetStoredFile(const std::u16string& fileName);
    virtual bool IsUpToDate();
    virtual void Refresh();

private:
    friend class TTemplateStoreRef;
    // Expires with the store: how those that refer to it learn of its end.
    std::shared_ptr<const bool> FAlive = std::make_shared<const bool>(true);
};

// A reference to a store that clears itself when the store is destroyed,
// so a holder never reaches a store that has gone.
class TTemplateStoreRef {
public:
    TTemplateStoreRef() = default;
    explicit TTemplateStoreRef(TXlsBaseTemplateStore* store)
        : FStore(store), FAlive(store ? std::weak_ptr<const bool>(store->FAlive) : std::weak_ptr<const bool>()) {}

    // The store, or none once it has been destroyed.
    TXlsBaseTemplateStore* Get() const { return FAlive.expired() ? nullptr : FStore; }

private:
    TXlsBaseTemplateStore* FStore = nullptr;
    std::weak_ptr<const bool> FAlive;
};

}  // namespace kalmira
