// The Windows exe links no C++ runtime library. Every class with a virtual
// destructor still gets a deleting destructor that names operator delete,
// though the program never deletes through one: objects are made with malloc
// and placement new, and freed with free after their destructor ran.
#include <stddef.h>
#include <stdlib.h>

void operator delete(void *pv) noexcept
{
    free(pv);
}

void operator delete(void *pv, size_t) noexcept
{
    free(pv);
}
