#include "kiv.type/type.h"

_Type::_Type() {
    InitializeCriticalSection(&lock);
}

_Type::~_Type() {
    while (method_infos.Count() > 0) {
        const uint32_t last = method_infos.Count() - 1;
        _TypeMethodInfo* record = method_infos.At(last);
        method_infos.RemoveAt(last);
        if (record != nullptr) {
            record->owns_data = 1;
            record->Release();
        }
    }
    method_infos.Clear();
    DeleteCriticalSection(&lock);
}

XType::XType() : object(KivNew<_Type>()) {
    if (object != nullptr) {
        object->SetTypeName(_Type::kTypeName);
    }
}

XType::~XType() {
    if (object != nullptr) {
        _Type* type = object;
        object = nullptr;
        type->Release();
    }
}
