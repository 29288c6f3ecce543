/* A DLL that imports from kernel32.dll a function that Microsoft's kernel32.dll does not export:
 * scripts/check-dll must refuse it by name. */
__declspec(dllimport) int VantrelNoSuchFunction(void);

__declspec(dllexport) int CallsUnlisted(void) {
    return VantrelNoSuchFunction();
}
