// A stand-in for the host core library: the module only reads its version resource, never loads it.
extern "C" __declspec(dllexport) int VaultexTemplate()
{
    return 0;
}
