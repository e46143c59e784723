// The COM server through its exports and through COM itself: identity, reference counts, the
// class object's errors, the unload question, and many threads at once.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <stdio.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/import_hook.h"
#include "support/test_support.h"

namespace {

void* const Poison = reinterpret_cast<void*>(static_cast<uintptr_t>(0xdeadbeef));

struct NamedInterface {
    const char* name;
    const IID* iid;
};
const NamedInterface ExtensionInterfaces[] = {
    {"IUnknown", &IID_IUnknown},
    {"IContextMenu", &IID_IContextMenu},
    {"IShellExtInit", &IID_IShellExtInit},
};

IUnknown* Query(IUnknown* from, REFIID iid)
{
    void* result = Poison;
    if (FAILED(from->QueryInterface(iid, &result)))
        return nullptr;
    return static_cast<IUnknown*>(result);
}

// An identifier that differs from one of ours in its last byte only.
GUID LastByteFlipped(const GUID& guid)
{
    GUID other = guid;
    other.Data4[7] ^= 1;
    return other;
}
const IID NearUnknown = LastByteFlipped(IID_IUnknown);
const IID NearContextMenu = LastByteFlipped(IID_IContextMenu);
const IID NearShellExtInit = LastByteFlipped(IID_IShellExtInit);
const IID NearClassFactory = LastByteFlipped(IID_IClassFactory);

ULONG CountOf(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

// An outer object offered for aggregation; the module must refuse it without calling it.
class OuterObject final : public IUnknown {
public:
    IFACEMETHODIMP QueryInterface(REFIID, void** ppv) override
    {
        ++calls;
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++calls, 1; }
    IFACEMETHODIMP_(ULONG) Release() override { return ++calls, 1; }
    int calls = 0;
};

// Windows 95 (and NT 3.51 and earlier) return only the sign of the new count from
// InterlockedIncrement and InterlockedDecrement. These change the count atomically, as the
// platform does, and answer as Windows 95 does, with a magnitude that is neither 1 nor the count,
// so that any use of the value beyond zero and the sign shows.
constexpr LONG SignOnlyMagnitude = 0x4b1d;
LONG SignOnly(LONG count)
{
    return count == 0 ? 0 : count > 0 ? SignOnlyMagnitude : -SignOnlyMagnitude;
}
LONG WINAPI SignOnlyIncrement(volatile LONG* count)
{
    return SignOnly(__atomic_add_fetch(count, 1, __ATOMIC_SEQ_CST));
}
LONG WINAPI SignOnlyDecrement(volatile LONG* count)
{
    return SignOnly(__atomic_sub_fetch(count, 1, __ATOMIC_SEQ_CST));
}

// The counts the module's atomic operations give: the system's own, and, where the module takes
// them from kernel32 (the shipped 32-bit DLL), those of Windows 95.
enum class Counts { System, Windows95 };

class ComServerTest : public RegistryTest, public ::testing::WithParamInterface<Counts> {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        if (GetParam() != Counts::Windows95)
            return;
        for (auto* hook : {&increment_, &decrement_})
            ASSERT_TRUE(hook->Installed()) << "the module takes no counts from kernel32";
    }
    LoadedModule module_;

private:
    bool windows95_ = GetParam() == Counts::Windows95;
    ImportHook increment_{windows95_ ? module_.handle : nullptr, "KERNEL32.dll",
        "InterlockedIncrement", reinterpret_cast<void*>(&SignOnlyIncrement)};
    ImportHook decrement_{windows95_ ? module_.handle : nullptr, "KERNEL32.dll",
        "InterlockedDecrement", reinterpret_cast<void*>(&SignOnlyDecrement)};
};

std::string CountsName(const ::testing::TestParamInfo<Counts>& info)
{
    return info.param == Counts::System ? "System" : "Windows95";
}
#ifdef _WIN64
// The 64-bit module counts with the processor's own instructions: there is nothing to vary.
INSTANTIATE_TEST_SUITE_P(Counts, ComServerTest, ::testing::Values(Counts::System), CountsName);
#else
INSTANTIATE_TEST_SUITE_P(
    Counts, ComServerTest, ::testing::Values(Counts::System, Counts::Windows95), CountsName);
#endif

} // namespace

TEST_P(ComServerTest, ExtensionIdentityAndQueryInterfaceRules)
{
    IUnknown* extension = CreateExtension(module_);
    ASSERT_NE(nullptr, extension);
    IUnknown* identity = Query(extension, IID_IUnknown);
    EXPECT_EQ(extension, identity);
    EXPECT_EQ(Query(extension, IID_IShellExtInit), identity) << "identity is IShellExtInit";
    identity->Release();
    identity->Release();

    // Reflexive, symmetric and transitive over every pair of interfaces, and IUnknown from
    // each of them is the one identity.
    for (const auto& from : ExtensionInterfaces) {
        IUnknown* a = Query(extension, *from.iid);
        ASSERT_NE(nullptr, a) << from.name;
        IUnknown* self = Query(a, *from.iid);
        EXPECT_EQ(a, self) << from.name << " from itself";
        for (const auto& to : ExtensionInterfaces) {
            IUnknown* b = Query(a, *to.iid);
            ASSERT_NE(nullptr, b) << to.name << " from " << from.name;
            IUnknown* back = Query(b, *from.iid);
            EXPECT_EQ(a, back) << from.name << " -> " << to.name << " -> back";
            IUnknown* unknown = Query(b, IID_IUnknown);
            EXPECT_EQ(extension, unknown) << "IUnknown from " << to.name;
            unknown->Release();
            back->Release();
            b->Release();
        }
        self->Release();
        a->Release();
    }
    EXPECT_EQ(0u, extension->Release());
    EXPECT_EQ(S_OK, module_.CanUnloadNow());
}

TEST_P(ComServerTest, UnknownInterfacesAreRefusedWithANullPointer)
{
    IUnknown* extension = CreateExtension(module_);
    ASSERT_NE(nullptr, extension);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK,
        module_.GetClassObject(ClassId, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    const struct {
        const char* label;
        IUnknown* object;
        const IID* iid;
    } cases[] = {
        {"IDispatch from the extension", extension, &IID_IDispatch},
        {"IContextMenu2 from the extension", extension, &IID_IContextMenu2},
        {"IClassFactory from the extension", extension, &IID_IClassFactory},
        {"IContextMenu from the class object", factory, &IID_IContextMenu},
        {"IShellExtInit from the class object", factory, &IID_IShellExtInit},
        {"IUnknown but its last byte, from the extension", extension, &NearUnknown},
        {"IContextMenu but its last byte", extension, &NearContextMenu},
        {"IShellExtInit but its last byte", extension, &NearShellExtInit},
        {"IUnknown but its last byte, from the class object", factory, &NearUnknown},
        {"IClassFactory but its last byte", factory, &NearClassFactory},
    };
    for (const auto& c : cases) {
        void* result = Poison;
        EXPECT_EQ(E_NOINTERFACE, c.object->QueryInterface(*c.iid, &result)) << c.label;
        EXPECT_EQ(nullptr, result) << c.label;
    }
    EXPECT_EQ(0u, factory->Release());
    EXPECT_EQ(0u, extension->Release());
}

TEST_P(ComServerTest, AddRefAndReleaseThroughEitherInterfaceMoveOneCount)
{
    IUnknown* extension = CreateExtension(module_);
    ASSERT_NE(nullptr, extension);
    IUnknown* menu = Query(extension, IID_IContextMenu);
    IUnknown* init = Query(extension, IID_IShellExtInit);
    ASSERT_NE(menu, init);
    EXPECT_EQ(4u, menu->AddRef());
    EXPECT_EQ(5u, init->AddRef());
    EXPECT_EQ(4u, menu->Release());
    EXPECT_EQ(3u, init->Release());
    EXPECT_EQ(2u, menu->Release());
    EXPECT_EQ(1u, init->Release());
    EXPECT_EQ(S_FALSE, module_.CanUnloadNow());
    EXPECT_EQ(0u, extension->Release());
    EXPECT_EQ(S_OK, module_.CanUnloadNow());
}

TEST_P(ComServerTest, ClassObjectErrorsMakeNothing)
{
    void* result = Poison;
    CLSID otherFirstBit = ClassId;
    otherFirstBit.Data1 ^= 1;
    for (const CLSID& other : {otherFirstBit, LastByteFlipped(ClassId)}) {
        result = Poison;
        EXPECT_EQ(
            CLASS_E_CLASSNOTAVAILABLE, module_.GetClassObject(other, IID_IClassFactory, &result));
        EXPECT_EQ(nullptr, result);
    }
    EXPECT_EQ(S_OK, module_.CanUnloadNow());

    // Nowhere to put the object: refused before anything is made or written.
    EXPECT_EQ(E_POINTER, module_.GetClassObject(ClassId, IID_IClassFactory, nullptr));
    EXPECT_EQ(S_OK, module_.CanUnloadNow());

    // A class object whose first QueryInterface is refused is not left behind.
    result = Poison;
    EXPECT_EQ(E_NOINTERFACE, module_.GetClassObject(ClassId, IID_IContextMenu, &result));
    EXPECT_EQ(nullptr, result);
    EXPECT_EQ(S_OK, module_.CanUnloadNow());

    IClassFactory* first = nullptr;
    IClassFactory* second = nullptr;
    ASSERT_EQ(
        S_OK, module_.GetClassObject(ClassId, IID_IClassFactory, reinterpret_cast<void**>(&first)));
    ASSERT_EQ(
        S_OK, module_.GetClassObject(ClassId, IID_IUnknown, reinterpret_cast<void**>(&second)));
    EXPECT_NE(first, second) << "every call makes a new class object";
    IUnknown* unknown = Query(first, IID_IUnknown);
    EXPECT_EQ(static_cast<IUnknown*>(first), unknown);
    unknown->Release();

    OuterObject outer;
    result = Poison;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, first->CreateInstance(&outer, IID_IUnknown, &result));
    EXPECT_EQ(nullptr, result);
    EXPECT_EQ(0, outer.calls);
    result = Poison;
    EXPECT_EQ(E_NOINTERFACE, first->CreateInstance(nullptr, IID_IClassFactory, &result));
    EXPECT_EQ(nullptr, result);
    EXPECT_EQ(E_POINTER, first->CreateInstance(nullptr, IID_IUnknown, nullptr));
    EXPECT_EQ(E_POINTER, first->CreateInstance(&outer, IID_IUnknown, nullptr));
    EXPECT_EQ(0, outer.calls);
    EXPECT_EQ(E_POINTER, first->QueryInterface(IID_IUnknown, nullptr));

    EXPECT_EQ(0u, first->Release());
    EXPECT_EQ(S_FALSE, module_.CanUnloadNow());
    EXPECT_EQ(0u, second->Release());
    EXPECT_EQ(S_OK, module_.CanUnloadNow()) << "no refused object keeps the module loaded";
}

// COM's rule: the module may go only when no object lives and no client holds it locked.
TEST_P(ComServerTest, CanUnloadOnlyWhenNoObjectLivesAndNoLockIsHeld)
{
    EXPECT_EQ(S_OK, module_.CanUnloadNow());
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK,
        module_.GetClassObject(ClassId, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    EXPECT_EQ(S_FALSE, module_.CanUnloadNow());
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    IUnknown* extension = nullptr;
    ASSERT_EQ(
        S_OK, factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&extension)));
    EXPECT_EQ(0u, extension->Release());
    EXPECT_EQ(S_FALSE, module_.CanUnloadNow()) << "the class object still lives";

    IClassFactory* locker = nullptr;
    ASSERT_EQ(S_OK,
        module_.GetClassObject(ClassId, IID_IClassFactory, reinterpret_cast<void**>(&locker)));
    EXPECT_EQ(0u, factory->Release());
    EXPECT_EQ(0u, locker->Release());
    EXPECT_EQ(S_FALSE, module_.CanUnloadNow()) << "no object lives, but two locks are held";

    ASSERT_EQ(S_OK,
        module_.GetClassObject(ClassId, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(0u, factory->Release());
    EXPECT_EQ(S_FALSE, module_.CanUnloadNow()) << "one lock is still held";

    ASSERT_EQ(S_OK,
        module_.GetClassObject(ClassId, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    // An unlock without a lock is ignored: it must not cancel the next client's lock.
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(0u, factory->Release());
    EXPECT_EQ(S_FALSE, module_.CanUnloadNow()) << "the lock taken after a surplus unlock";

    ASSERT_EQ(S_OK,
        module_.GetClassObject(ClassId, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(0u, factory->Release());
    EXPECT_EQ(S_OK, module_.CanUnloadNow());
}

TEST_P(ComServerTest, MenuMethodsAddNothingAndAnyVerbLaunches)
{
    InstallPlayer("C:\\Kestrovane\\player.exe");
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, "C:\\Kestrovane\\player.exe");
    PlayerLog log;

    IUnknown* extension = CreateExtension(module_);
    ASSERT_NE(nullptr, extension);
    auto* menu = reinterpret_cast<IContextMenu*>(Query(extension, IID_IContextMenu));
    auto* init = reinterpret_cast<IShellExtInit*>(Query(extension, IID_IShellExtInit));

    EXPECT_EQ(S_OK, init->Initialize(nullptr, nullptr, nullptr));
    HMENU popup = CreatePopupMenu();
    AppendMenuA(popup, MF_STRING, 1, "Existing");
    EXPECT_EQ(0, menu->QueryContextMenu(popup, 0, 100, 200, CMF_NORMAL));
    EXPECT_EQ(1, GetMenuItemCount(popup));
    DestroyMenu(popup);

    // An empty text of the kind asked for, and nothing where there is no room.
    const struct {
        const char* label;
        UINT type;
        UINT cchMax;
        size_t zeroBytes;
    } strings[] = {
        {"verb", GCS_VERBA, 64, 1},
        {"help text", GCS_HELPTEXTA, 64, 1},
        {"one character of room", GCS_VERBA, 1, 1},
        {"Unicode verb", GCS_VERBW, 64, 2},
        {"Unicode help text", GCS_HELPTEXTW, 1, 2},
        {"no room", GCS_VERBA, 0, 0},
        {"no room, Unicode", GCS_HELPTEXTW, 0, 0},
    };
    for (const auto& c : strings) {
        char name[64];
        memset(name, 'x', sizeof name);
        EXPECT_EQ(S_OK, menu->GetCommandString(0, c.type, nullptr, name, c.cchMax)) << c.label;
        for (size_t i = 0; i < 4; ++i)
            EXPECT_EQ(i < c.zeroBytes ? '\0' : 'x', name[i]) << c.label << ", byte " << i;
    }
    EXPECT_EQ(S_OK, menu->GetCommandString(0, GCS_VERBA, nullptr, nullptr, 64)) << "no buffer";

    const LPCSTR verbs[] = {MAKEINTRESOURCEA(0), MAKEINTRESOURCEA(7), "open", "search"};
    for (LPCSTR verb : verbs) {
        CMINVOKECOMMANDINFO info = {};
        info.cbSize = sizeof info;
        info.lpVerb = verb;
        EXPECT_EQ(S_OK, menu->InvokeCommand(&info));
    }
    EXPECT_EQ(4u, log.WaitForLines(4).size());

    init->Release();
    menu->Release();
    EXPECT_EQ(0u, extension->Release());
}

TEST_P(ComServerTest, CoCreateInstanceThroughTheRegisteredClass)
{
    SetDefaultText(HKEY_CLASSES_ROOT, ServerKey, BinPath(ModuleFile));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, ServerKey, 0, KEY_SET_VALUE, &key));
    RegSetValueExA(
        key, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>("Apartment"), 10);
    RegCloseKey(key);

    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    IContextMenu* menu = nullptr;
    ASSERT_EQ(S_OK,
        CoCreateInstance(ClassId, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu,
            reinterpret_cast<void**>(&menu)));
    IUnknown* init = Query(menu, IID_IShellExtInit);
    IUnknown* identity = Query(menu, IID_IUnknown);
    EXPECT_EQ(init, identity);
    EXPECT_EQ(3u, CountOf(menu));
    identity->Release();
    init->Release();
    EXPECT_EQ(0u, menu->Release());

    OuterObject outer;
    void* result = Poison;
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
        CoCreateInstance(ClassId, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &result));
    EXPECT_EQ(nullptr, result);
    CoUninitialize();
}

// Objects of different apartments can run on different threads. With a count that is not
// changed atomically, lost updates leave the module pinned, or unloadable under a live object;
// sharing one class object and one extension object across the threads makes their own counts
// race as well.
TEST_P(ComServerTest, ThreadsCreatingAndReleasingLeaveNothingBehind)
{
    IClassFactory* shared = nullptr;
    ASSERT_EQ(S_OK,
        module_.GetClassObject(ClassId, IID_IClassFactory, reinterpret_cast<void**>(&shared)));
    IUnknown* sharedExtension = CreateExtension(module_);
    ASSERT_NE(nullptr, sharedExtension);
    constexpr int Threads = 4;
    constexpr int Cycles = 50000;
    std::vector<int> failures(Threads, 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < Cycles; ++i) {
                // Back to back, so that the threads' changes of the one count collide often.
                for (int k = 0; k < 8; ++k) {
                    sharedExtension->AddRef();
                    IUnknown* menu = Query(sharedExtension, IID_IContextMenu);
                    if (menu == nullptr)
                        ++failures[t];
                    else
                        menu->Release();
                    sharedExtension->Release();
                }
                shared->AddRef();
                IClassFactory* own = nullptr;
                if (FAILED(module_.GetClassObject(
                        ClassId, IID_IClassFactory, reinterpret_cast<void**>(&own)))) {
                    ++failures[t];
                    continue;
                }
                IUnknown* extension = nullptr;
                IClassFactory* maker = (i % 2) ? own : shared;
                if (FAILED(maker->CreateInstance(
                        nullptr, IID_IContextMenu, reinterpret_cast<void**>(&extension)))) {
                    ++failures[t];
                } else {
                    IUnknown* init = Query(extension, IID_IShellExtInit);
                    if (init != nullptr)
                        init->Release();
                    extension->Release();
                }
                own->Release();
                shared->Release();
            }
        });
    }
    for (auto& worker : workers)
        worker.join();
    for (int t = 0; t < Threads; ++t)
        EXPECT_EQ(0, failures[t]) << "thread " << t;
    EXPECT_EQ(1u, CountOf(shared));
    EXPECT_EQ(1u, CountOf(sharedExtension));
    EXPECT_EQ(0u, sharedExtension->Release());
    EXPECT_EQ(0u, shared->Release());
    EXPECT_EQ(S_OK, module_.CanUnloadNow());
}

// Two threads release the last two references of one object at the same moment: exactly one of
// them may see the count reach zero, or the object is freed twice. Stops at the first bad round,
// before a double free can take the process down. Each side yields while it waits for the other,
// so that on one busy CPU the waiter gives the processor to the side it waits for instead of
// spinning out its time slice; the rounds end at a count or a time, whichever comes first.
TEST_P(ComServerTest, LastTwoReferencesReleasedTogetherFreeTheObjectOnce)
{
    constexpr int Rounds = 200000;
    constexpr DWORD TimeLimitMs = 15000;
    std::atomic<IUnknown*> object{nullptr};
    std::atomic<int> started{0};
    std::atomic<int> finished{0};
    std::atomic<bool> stop{false};
    ULONG otherResult = 0;
    std::thread other([&] {
        for (int round = 1; !stop.load(); ++round) {
            while (started.load() < round && !stop.load())
                std::this_thread::yield();
            if (stop.load())
                return;
            otherResult = object.load()->Release();
            finished.store(round);
        }
    });
    int badRound = 0;
    int round = 1;
    ULONG results[2] = {};
    const DWORD begun = GetTickCount();
    for (; round <= Rounds && badRound == 0 && GetTickCount() - begun < TimeLimitMs; ++round) {
        IUnknown* extension = CreateExtension(module_);
        if (extension == nullptr) {
            badRound = round;
            break;
        }
        extension->AddRef();
        object.store(extension);
        started.store(round);
        // The other thread sees the start a moment later: a delay that sweeps over that moment
        // makes the two Release calls meet.
        for (volatile int delay = 0; delay < round % 256; ++delay) { }
        results[0] = extension->Release();
        while (finished.load() < round)
            std::this_thread::yield();
        results[1] = otherResult;
        if ((results[0] == 0) == (results[1] == 0))
            badRound = round;
    }
    stop.store(true);
    other.join();
    printf("%d rounds in %lu ms\n", round - 1, static_cast<unsigned long>(GetTickCount() - begun));
    EXPECT_EQ(0, badRound) << "round " << badRound << ": Release returned " << results[0] << " and "
                           << results[1] << "; exactly one must return 0";
    EXPECT_EQ(S_OK, module_.CanUnloadNow());
}
