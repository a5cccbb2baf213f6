#include "manager/main/language/language_keys.h"

namespace {

struct IdRange {
    UINT first;
    UINT last;
};

// The translation group's text ids, in table order.
constexpr IdRange kTextIds[] = {
    {1, 2},         {392, 392},     {1153, 1153},   {1156, 1158},   {1160, 1164},   {1166, 1166},   {1168, 1168},
    {1170, 1170},   {1173, 1173},   {1175, 1179},   {393, 393},     {378, 378},     {1182, 1187},   {391, 391},
    {1113, 1116},   {1123, 1123},   {1131, 1133},   {1135, 1137},   {1147, 1148},   {1188, 1206},   {9001, 9013},
    {394, 394},     {64013, 64015}, {64017, 64019}, {62264, 62298}, {62300, 62350}, {62517, 62519}, {62351, 62367},
    {62520, 62535}, {62600, 62621}, {62536, 62537}, {62622, 62628}, {62630, 62642}, {62660, 62669}, {4120, 4121},
    {4140, 4142},   {4168, 4168},   {4190, 4190},   {4200, 4201},   {4206, 4206},   {4220, 4220},   {4229, 4230},
    {4223, 4228},   {4262, 4262},   {4323, 4324},   {32772, 32772}, {32900, 32902}, {32923, 32924}, {33800, 33801},
    {33900, 33904}, {57345, 57345}, {57634, 57635}, {57637, 57637}, {57665, 57665}, {60516, 60516}, {4231, 4234},
};

// Text ids whose text is read from another key.
constexpr struct {
    UINT id;
    UINT key;
} kRemapped[] = {
    {1131, 62362}, {1190, 1188}, {1196, 1191}, {1197, 1189}, {1198, 1192}, {1199, 1193}, {1200, 1194}, {1201, 1195},
};

UINT KeyOf(UINT id)
{
    for (const auto& r : kRemapped) {
        if (r.id == id)
            return r.key;
    }
    return id;
}

struct MenuPopup {
    UINT index;
    const wchar_t* key;
};

constexpr MenuPopup kMainPopups[] = {
    {0, L"file"},         {1, L"file.newfolder"},   {2, L"memory"},         {3, L"tools"}, {4, L"options"},
    {5, L"options.skin"}, {6, L"options.language"}, {7, L"options.layout"}, {8, L"help"},
};
constexpr UINT kMainCommands[] = {4120, 4121, 4161, 4168, 4182, 4183, 32923, 32924, 4257,  4258,  4259,  4260,  4261,
                                  4280, 4281, 4300, 4301, 4302, 4303, 32771, 32772, 57665, 57664, 60000, 60257, 60516};
constexpr MenuPopup kPlayListPopups[] = {{0, L"volume"}};
constexpr UINT kPcListCommands[] = {4120, 4160, 4161, 4162, 4163, 4164, 4165, 4166, 4167, 4168};
constexpr UINT kPlayerListCommands[] = {4121, 4180, 4181, 4184, 4185, 4186, 4187, 4188, 4189, 4190};
constexpr UINT kPlayListCommands[] = {4200, 4201, 4202, 4203, 4204, 4205, 4206, 4207, 4208,
                                      4221, 4222, 4229, 4230, 4223, 4224, 4226, 4227, 4228};

template <size_t P, size_t C>
HRESULT FillMenu(CLanguageKeyGroup& group, const wchar_t* section, UINT menu, const MenuPopup (*popups)[P],
                 const UINT (&commands)[C])
{
    group.section = section;
    group.menu = menu;
    if (popups != nullptr) {
        for (const MenuPopup& p : *popups) {
            if (!group.keys.Add(CLanguageKey{kPopupItemBase + p.index, 0, p.key}))
                return E_OUTOFMEMORY;
        }
    }
    for (UINT id : commands) {
        if (!group.keys.Add(CLanguageKey{id, id, nullptr}))
            return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace

HRESULT BuildLanguageKeyTables(CLanguageKeyTables* tables)
{
    if (tables == nullptr)
        return E_INVALIDARG;
    for (CLanguageKeyGroup& group : tables->groups)
        group.keys.RemoveAll();
    CLanguageKeyGroup& text = tables->groups[0];
    text.section = L"translation";
    text.menu = 0;
    for (const IdRange& range : kTextIds) {
        for (UINT id = range.first; id <= range.last; ++id) {
            if (!text.keys.Add(CLanguageKey{id, KeyOf(id), nullptr}))
                return E_OUTOFMEMORY;
        }
    }
    constexpr const MenuPopup(*kNoPopups)[1] = nullptr;
    HRESULT hr = FillMenu(tables->groups[1], L"menu.main", kMainMenuId, &kMainPopups, kMainCommands);
    if (SUCCEEDED(hr))
        hr = FillMenu(tables->groups[2], L"menu.pc.list", kPcListMenuId, kNoPopups, kPcListCommands);
    if (SUCCEEDED(hr))
        hr = FillMenu(tables->groups[3], L"menu.kwep.list", kPlayerListMenuId, kNoPopups, kPlayerListCommands);
    if (SUCCEEDED(hr))
        hr = FillMenu(tables->groups[4], L"menu.play.list", kPlayListMenuId, &kPlayListPopups, kPlayListCommands);
    return hr;
}
