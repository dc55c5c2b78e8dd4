// FMU states: taking, restoring and releasing them, their image, and what a host's bad image or
// bad arguments get.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <algorithm>
#include <cstddef>

#include "case_names.h"
#include "modeldata.h"
#include "state_fixture.h"

namespace {

using namespace stateImage;

class FmuState : public StateTest {
 protected:
  // An image of a running Model Exchange instance with a recognisable parameter.
  std::vector<char> runningImage(fmi2Component* instance = nullptr) {
    fmi2Component c = startIn(fmi2ModelExchange, startRunning);
    EXPECT_EQ(set(c, model::filterT, 0.25), fmi2OK);
    fmi2FMUstate state = nullptr;
    EXPECT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK);
    std::vector<char> image = serialize(c, state);
    unit.fmi2FreeFMUstate(c, &state);
    if (instance) *instance = c;
    host.clear();
    return image;
  }

  void freeState(fmi2Component c, fmi2FMUstate* state) { EXPECT_EQ(unit.fmi2FreeFMUstate(c, state), fmi2OK); }
};

// The image with a text of `length` characters on its string item in place of the null entry:
// the length word becomes length + 1, the characters follow it, and the total length grows.
std::vector<char> withStringText(std::vector<char> image, size_t length) {
  std::string text(length, ' ');
  for (size_t k = 0; k < length; ++k) text[k] = static_cast<char>('a' + k % 26);
  put<uint32_t>(image, stringsOffset, static_cast<uint32_t>(length + 1));
  image.insert(image.begin() + static_cast<long>(stringsOffset + 4), text.begin(), text.end());
  put<uint32_t>(image, 4, static_cast<uint32_t>(image.size()));
  return image;
}

// ---- Arguments --------------------------------------------------------------------------------

struct NullCase {
  const char* what;
  std::function<fmi2Status(FmuLibrary&, fmi2Component)> call;
  const char* message;  // the warning; empty: fmi2OK without a message
};

void PrintTo(const NullCase& c, std::ostream* os) { *os << c.what; }

class NullArguments : public FmuState, public ::testing::WithParamInterface<NullCase> {};

TEST_P(NullArguments, AreRefusedWithTheirMessageAndChangeNothing) {
  fmi2Component c = startIn(fmi2ModelExchange, startRunning);
  const NullCase& k = GetParam();
  fmi2Status status = k.call(unit, c);
  if (*k.message) {
    EXPECT_EQ(status, fmi2Warning);
    EXPECT_EQ(textsAt(fmi2Warning), std::vector<std::string>{k.message});
  } else {
    EXPECT_EQ(status, fmi2OK);
    EXPECT_TRUE(host.log.empty());
  }
  EXPECT_NEAR(get(c, model::u), 0.5, 0);  // the instance is unchanged and still running
}

fmi2FMUstate someState(FmuLibrary& unit, fmi2Component c) {
  fmi2FMUstate state = nullptr;
  unit.fmi2GetFMUstate(c, &state);
  return state;
}

INSTANTIATE_TEST_SUITE_P(
    Calls, NullArguments,
    ::testing::Values(
        NullCase{"set null", [](FmuLibrary& u, fmi2Component c) { return u.fmi2SetFMUstate(c, nullptr); },
                 "fmi2SetFMUstate: FMUstate == NULL"},
        NullCase{"free null pointer", [](FmuLibrary& u, fmi2Component c) { return u.fmi2FreeFMUstate(c, nullptr); },
                 ""},
        NullCase{"free null handle",
                 [](FmuLibrary& u, fmi2Component c) {
                   fmi2FMUstate s = nullptr;
                   return u.fmi2FreeFMUstate(c, &s);
                 },
                 ""},
        NullCase{"size of null",
                 [](FmuLibrary& u, fmi2Component c) {
                   size_t size = 0;
                   return u.fmi2SerializedFMUstateSize(c, nullptr, &size);
                 },
                 "fmi2SerializedFMUstateSize: FMUstate == NULL"},
        NullCase{"size into null",
                 [](FmuLibrary& u, fmi2Component c) {
                   fmi2FMUstate s = someState(u, c);
                   fmi2Status status = u.fmi2SerializedFMUstateSize(c, s, nullptr);
                   u.fmi2FreeFMUstate(c, &s);
                   return status;
                 },
                 "fmi2SerializedFMUstateSize: size == NULL"},
        NullCase{"serialize null",
                 [](FmuLibrary& u, fmi2Component c) {
                   char buffer[8];
                   return u.fmi2SerializeFMUstate(c, nullptr, buffer, sizeof buffer);
                 },
                 "fmi2SerializeFMUstate: FMUstate == NULL"},
        NullCase{"serialize into null",
                 [](FmuLibrary& u, fmi2Component c) {
                   fmi2FMUstate s = someState(u, c);
                   fmi2Status status = u.fmi2SerializeFMUstate(c, s, nullptr, imageSize);
                   u.fmi2FreeFMUstate(c, &s);
                   return status;
                 },
                 "fmi2SerializeFMUstate: serializedState == NULL"},
        NullCase{"deserialize null",
                 [](FmuLibrary& u, fmi2Component c) {
                   fmi2FMUstate s = nullptr;
                   return u.fmi2DeSerializeFMUstate(c, nullptr, imageSize, &s);
                 },
                 "fmi2DeSerializeFMUstate: serializedState == NULL"},
        NullCase{"deserialize into null",
                 [](FmuLibrary& u, fmi2Component c) {
                   char buffer[8] = {};
                   return u.fmi2DeSerializeFMUstate(c, buffer, sizeof buffer, nullptr);
                 },
                 "fmi2DeSerializeFMUstate: FMUstate == NULL"},
        NullCase{"get into null",
                 [](FmuLibrary& u, fmi2Component c) { return u.fmi2GetFMUstate(c, nullptr); },
                 "fmi2GetFMUstate: FMUstate == NULL"}),
    quenzel_test::CaseNameFrom<&NullCase::what>{});

// ---- Taking and restoring ---------------------------------------------------------------------

struct LogCase {
  const char* name;
  fmi2Type type;
  std::vector<std::string> get, set, free;
};

void PrintTo(const LogCase& c, std::ostream* os) { *os << c.name; }

class StateMessages : public FmuState, public ::testing::WithParamInterface<LogCase> {};

TEST_P(StateMessages, GetSetAndFreeLogTheirNames) {
  const LogCase& k = GetParam();
  fmi2Component c = startIn(k.type, startRunning);
  fmi2FMUstate state = nullptr;
  ASSERT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK);
  EXPECT_EQ(host.texts(), k.get);
  host.clear();
  ASSERT_EQ(unit.fmi2SetFMUstate(c, state), fmi2OK);
  EXPECT_EQ(host.texts(), k.set);
  host.clear();
  ASSERT_EQ(unit.fmi2FreeFMUstate(c, &state), fmi2OK);
  EXPECT_EQ(state, nullptr);
  EXPECT_EQ(host.texts(), k.free);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, StateMessages,
    ::testing::Values(LogCase{"ME", fmi2ModelExchange, {"fmi2GetFMUstate", "fmi2GetFMUstate"}, {"fmi2SetFMUstate"},
                              {"fmi2FreeFMUstate"}},
                      LogCase{"CS", fmi2CoSimulation, {"fmi2GetFMUstate"}, {}, {"fmi2FreeFMUstate"}}),
    quenzel_test::CaseName{});

TEST_F(FmuState, RestoreBringsBackValuesTimeAndMode) {
  REQUIRE_EXPORTED(fmi2NewDiscreteStates);
  fmi2Component c = continuousTime(0.5, 0.25, 0.75);
  fmi2FMUstate state = nullptr;
  ASSERT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK);
  double before = get(c, model::derFilterY);

  const double other[] = {5.0, 6.0};
  ASSERT_EQ(unit.fmi2SetContinuousStates(c, other, 2), fmi2OK);
  ASSERT_EQ(set(c, model::u, 3.0), fmi2OK);
  ASSERT_EQ(set(c, model::filterT, 4.0), fmi2OK);
  ASSERT_EQ(unit.fmi2EnterEventMode(c), fmi2OK);

  host.clear();
  ASSERT_EQ(unit.fmi2SetFMUstate(c, state), fmi2OK);
  EXPECT_TRUE(textsAt(fmi2Warning).empty());
  double restored[2];
  ASSERT_EQ(unit.fmi2GetContinuousStates(c, restored, 2), fmi2OK);
  EXPECT_EQ(restored[0], 0.25);
  EXPECT_EQ(restored[1], 0.75);
  EXPECT_EQ(get(c, model::u), 0.5);
  EXPECT_EQ(get(c, model::derFilterY), before);
  // Back in continuous-time mode at 0.5: entering event mode is accepted again.
  EXPECT_EQ(unit.fmi2EnterEventMode(c), fmi2OK);
  freeState(c, &state);
}

TEST_F(FmuState, AStateTakenBeforeInitialisationBringsBackInstantiatedMode) {
  fmi2Component c = instantiate(fmi2ModelExchange);
  consistentLimits(c);
  fmi2FMUstate state = nullptr;
  ASSERT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK);
  ASSERT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
  ASSERT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
  ASSERT_EQ(unit.fmi2SetFMUstate(c, state), fmi2OK);
  EXPECT_EQ(probeMode(c), 0);  // initialisation is accepted again
  freeState(c, &state);
}

TEST_F(FmuState, GetIntoAnExistingHandleRefreshesItInPlace) {
  fmi2Component c = startIn(fmi2ModelExchange, startRunning);
  fmi2FMUstate state = nullptr;
  ASSERT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK);
  fmi2FMUstate first = state;
  long blocks = hostAllocator().liveBlocks;
  ASSERT_EQ(set(c, model::filterT, 7.0), fmi2OK);
  ASSERT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK);
  EXPECT_EQ(state, first);
  EXPECT_EQ(hostAllocator().liveBlocks, blocks);
  ASSERT_EQ(set(c, model::filterT, 1.0), fmi2OK);
  ASSERT_EQ(unit.fmi2SetFMUstate(c, state), fmi2OK);
  EXPECT_EQ(get(c, model::filterT), 7.0);
  freeState(c, &state);
}

TEST_F(FmuState, RestoringALaterStateWarnsAndGoesOn) {
  REQUIRE_EXPORTED(fmi2NewDiscreteStates);
  fmi2Component c = continuousTime(2.0, 1.0, 1.0);
  fmi2FMUstate state = nullptr;
  ASSERT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK);
  ASSERT_EQ(unit.fmi2SetTime(c, 1.0), fmi2OK);
  host.clear();
  EXPECT_EQ(unit.fmi2SetFMUstate(c, state), fmi2OK);
  EXPECT_EQ(textsAt(fmi2Warning),
            std::vector<std::string>{"fmi2SetFMUstate: Time in FMU state later than current. The behaviour for "
                                     "this is not well tested."});
  freeState(c, &state);
}

TEST_F(FmuState, TenThousandGetFreePairsLeaveNothingWithTheHost) {
  fmi2Component c = startIn(fmi2ModelExchange, startRunning);
  ASSERT_EQ(unit.fmi2SetDebugLogging(c, fmi2False, 0, nullptr), fmi2OK);
  hostAllocator().poison = false;
  long blocks = hostAllocator().liveBlocks;
  for (int i = 0; i < 10000; ++i) {
    fmi2FMUstate state = nullptr;
    ASSERT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK);
    ASSERT_EQ(unit.fmi2FreeFMUstate(c, &state), fmi2OK);
  }
  EXPECT_EQ(hostAllocator().liveBlocks, blocks);
}

// Every allocation of a new state can fail: no state is handed back, nothing is left, and the
// instance goes on as it was (a later get works).
class AllocationFailure : public FmuState, public ::testing::WithParamInterface<int> {};

TEST_P(AllocationFailure, HandsBackNoStateAndLeavesTheInstanceAsItWas) {
  fmi2Component c = startIn(fmi2ModelExchange, startRunning);
  long blocks = hostAllocator().liveBlocks;
  hostAllocator().failAt = hostAllocator().calls + GetParam();
  fmi2FMUstate state = nullptr;
  EXPECT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2Error);
  hostAllocator().failAt = 0;
  EXPECT_EQ(state, nullptr);
  EXPECT_EQ(textsAt(fmi2Error), std::vector<std::string>{"memory allocation failed"});
  EXPECT_EQ(hostAllocator().liveBlocks, blocks);
  EXPECT_EQ(get(c, model::u), 0.5);
  ASSERT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK);
  freeState(c, &state);
  EXPECT_EQ(probeMode(c), 3);  // still in event mode after the initialisation
}

// The record, ten arrays, the string table, the two solver blocks and the model block.
INSTANTIATE_TEST_SUITE_P(EachAllocation, AllocationFailure, ::testing::Range(1, 16), quenzel_test::AllocationName{});

// ---- The image ---------------------------------------------------------------------------------

TEST_F(FmuState, SizeIsTheImageLengthAndABufferOneByteShortGetsNothing) {
  fmi2Component c = startIn(fmi2ModelExchange, startRunning);
  fmi2FMUstate state = nullptr;
  ASSERT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK);
  size_t size = 0;
  ASSERT_EQ(unit.fmi2SerializedFMUstateSize(c, state, &size), fmi2OK);
  EXPECT_EQ(size, imageSize);

  std::vector<char> buffer(size + 16, '\x5A');
  host.clear();
  testing::internal::CaptureStderr();
  EXPECT_EQ(unit.fmi2SerializeFMUstate(c, state, buffer.data(), size - 1), fmi2Error);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  // The serialiser's own message reaches the instance's logger, not the standard error stream.
  EXPECT_EQ(textsAt(fmi2Warning), std::vector<std::string>{"tpl_dump: buffer too small, need 882590 bytes"});
  EXPECT_EQ(textsAt(fmi2Error), std::vector<std::string>{"fmi2SerializeFMUstate: tpl_dump failed"});
  EXPECT_EQ(std::count(buffer.begin(), buffer.end(), '\x5A'), static_cast<long>(buffer.size()));

  ASSERT_EQ(unit.fmi2SerializeFMUstate(c, state, buffer.data(), size), fmi2OK);
  EXPECT_EQ(memcmp(buffer.data(), "tpl\x02", 4), 0);
  EXPECT_EQ(read<uint32_t>(buffer, 4), imageSize);
  EXPECT_EQ(std::count(buffer.begin() + static_cast<long>(size), buffer.end(), '\x5A'), 16);
  freeState(c, &state);
}

TEST_F(FmuState, ADeserialisedStateRestoresTheSerialisedOne) {
  fmi2Component c = nullptr;
  std::vector<char> image = runningImage(&c);
  EXPECT_EQ(read<double>(image, parameterOffset + 8 * 2), 0.25);  // filter.T

  fmi2FMUstate copy = nullptr;
  ASSERT_EQ(unit.fmi2DeSerializeFMUstate(c, image.data(), image.size(), &copy), fmi2OK);
  EXPECT_TRUE(host.log.empty());
  // Re-serialised, only the first two words of the model block differ: they refer to the
  // solver blocks of whichever record holds the block.
  std::vector<char> again = serialize(c, copy);
  ASSERT_EQ(again.size(), image.size());
  EXPECT_EQ(memcmp(again.data(), image.data(), modelDataOffset), 0);
  EXPECT_EQ(memcmp(again.data() + modelDataOffset + 16, image.data() + modelDataOffset + 16,
                   image.size() - modelDataOffset - 16),
            0);

  ASSERT_EQ(set(c, model::filterT, 9.0), fmi2OK);
  ASSERT_EQ(unit.fmi2SetFMUstate(c, copy), fmi2OK);
  EXPECT_EQ(get(c, model::filterT), 0.25);
  freeState(c, &copy);
}

// A host's image may carry a text on the string item, where this model's images hold only the
// null entry that ends the table. The text is read into scratch storage and released there (the
// sanitizer build finds any text left on the C heap): the state is the one of the image without
// it, and restoring it gives the instance exactly that state.
class StringItemText : public FmuState, public ::testing::WithParamInterface<size_t> {};

TEST_P(StringItemText, IsDroppedAndTheStateIsTheImageWithoutIt) {
  fmi2Component c = nullptr;
  std::vector<char> image = runningImage(&c);
  ASSERT_EQ(read<uint32_t>(image, stringsOffset), 0u) << "the null entry";
  std::vector<char> texted = withStringText(image, GetParam());
  ASSERT_EQ(read<double>(texted, timeOffset + GetParam()), read<double>(image, timeOffset));
  long blocks = hostAllocator().liveBlocks;

  fmi2FMUstate state = nullptr;
  ASSERT_EQ(unit.fmi2DeSerializeFMUstate(c, texted.data(), texted.size(), &state), fmi2OK);
  EXPECT_TRUE(host.log.empty());
  EXPECT_TRUE(sameStateImage(serialize(c, state), image));

  ASSERT_EQ(set(c, model::filterT, 9.0), fmi2OK);
  ASSERT_EQ(set(c, model::u, -0.5), fmi2OK);
  ASSERT_EQ(unit.fmi2SetFMUstate(c, state), fmi2OK);
  fmi2FMUstate restored = nullptr;
  ASSERT_EQ(unit.fmi2GetFMUstate(c, &restored), fmi2OK);
  EXPECT_TRUE(sameStateImage(serialize(c, restored), image));
  EXPECT_EQ(get(c, model::filterT), 0.25);
  EXPECT_EQ(get(c, model::u), 0.5);
  freeState(c, &restored);
  freeState(c, &state);
  EXPECT_EQ(hostAllocator().liveBlocks, blocks);
}

// The empty text, a short one, and one longer than a string buffer's 500 characters.
std::string charactersName(size_t length) { return "Characters" + std::to_string(length); }

INSTANTIATE_TEST_SUITE_P(Lengths, StringItemText, ::testing::Values(size_t{0}, size_t{5}, size_t{600}),
                         quenzel_test::CaseNameFrom<charactersName>{});

// ---- Bad images --------------------------------------------------------------------------------

struct BadImage {
  const char* what;
  std::function<void(std::vector<char>&)> change;
  // The messages, in order: the serialiser's own warning, when it read the image, then the
  // call's refusal at fmi2Error.
  std::vector<std::string> messages;
};

void PrintTo(const BadImage& c, std::ostream* os) { *os << c.what; }

template <typename T>
void putInBlock(std::vector<char>& image, size_t fieldOffset, T value) {
  put(image, modelDataOffset + fieldOffset, value);
}

class BadImages : public FmuState, public ::testing::WithParamInterface<BadImage> {};

// A refused image is a failed deserialisation: fmi2Error, no state (the host's handle stays as
// it was, whatever it held), nothing left with the host, and the instance goes on as it was.
TEST_P(BadImages, AreRefusedWithAnErrorAndNoState) {
  fmi2Component c = nullptr;
  std::vector<char> image = runningImage(&c);
  GetParam().change(image);
  long blocks = hostAllocator().liveBlocks;
  for (fmi2FMUstate before : {static_cast<fmi2FMUstate>(nullptr), reinterpret_cast<fmi2FMUstate>(&image)}) {
    host.clear();
    fmi2FMUstate state = before;
    testing::internal::CaptureStderr();
    EXPECT_EQ(unit.fmi2DeSerializeFMUstate(c, image.data(), image.size(), &state), fmi2Error);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(host.texts(), GetParam().messages);
    ASSERT_FALSE(host.log.empty());
    EXPECT_EQ(host.log.back().status, fmi2Error);
    for (size_t k = 0; k + 1 < host.log.size(); ++k) EXPECT_EQ(host.log[k].status, fmi2Warning);
    EXPECT_EQ(state, before);
    EXPECT_EQ(hostAllocator().liveBlocks, blocks);
  }
  // The instance itself is untouched and goes on: a valid image still becomes a state.
  EXPECT_EQ(get(c, model::filterT), 0.25);
  std::vector<char> valid = runningImage();
  fmi2FMUstate state = nullptr;
  ASSERT_EQ(unit.fmi2DeSerializeFMUstate(c, valid.data(), valid.size(), &state), fmi2OK);
  freeState(c, &state);
}

const std::vector<std::string> loadFailed = {"fmi2DeSerializeFMUstate: tpl_load failed"};
const std::vector<std::string> notAnImage = {"not a valid tpl file", "fmi2DeSerializeFMUstate: tpl_load failed"};
const std::vector<std::string> otherFormat = {"format signature mismatch", "fmi2DeSerializeFMUstate: tpl_load failed"};
const std::vector<std::string> unpackFailed = {"fmi2DeSerializeFMUstate: tpl_unpack failed"};

INSTANTIATE_TEST_SUITE_P(
    Images, BadImages,
    ::testing::Values(
        BadImage{"zero length", [](std::vector<char>& i) { i.clear(); }, notAnImage},
        BadImage{"header only", [](std::vector<char>& i) { i.resize(8); }, notAnImage},
        BadImage{"64 zero bytes", [](std::vector<char>& i) { i.assign(64, 0); }, notAnImage},
        BadImage{"truncated", [](std::vector<char>& i) { i.pop_back(); }, notAnImage},
        BadImage{"one byte too long", [](std::vector<char>& i) { i.push_back(0); }, notAnImage},
        BadImage{"format bit flipped", [](std::vector<char>& i) { i[20] ^= 0x01; }, notAnImage},
        BadImage{"format character replaced", [](std::vector<char>& i) { i[8] = 'i'; }, otherFormat},
        BadImage{"fixed length bit flipped", [](std::vector<char>& i) { i[70] ^= 0x04; }, notAnImage},
        BadImage{"unknown flag bit", [](std::vector<char>& i) { i[3] |= 0x08; }, notAnImage},
        BadImage{"far too long", [](std::vector<char>& i) { i.resize(4 * imageSize); }, loadFailed},
        // No state of this instance has an image that long: refused before anything is read.
        BadImage{"text of 4000 characters on the string item",
                 [](std::vector<char>& i) { i = withStringText(i, 4000); }, loadFailed},
        // Read byte-swapped, the total length no longer matches.
        BadImage{"big-endian flag", [](std::vector<char>& i) { i[3] |= 0x01; }, notAnImage},
        BadImage{"mode 9", [](std::vector<char>& i) { put<int32_t>(i, modeOffset, 9); }, unpackFailed},
        BadImage{"mode -1", [](std::vector<char>& i) { put<int32_t>(i, modeOffset, -1); }, unpackFailed},
        BadImage{"level 99", [](std::vector<char>& i) { put<int32_t>(i, levelOffset, 99); }, unpackFailed},
        BadImage{"valuesChanged 2", [](std::vector<char>& i) { put<int32_t>(i, flagsOffset + 8, 2); },
                 unpackFailed},
        BadImage{"useStateSnapshots -1", [](std::vector<char>& i) { put<int32_t>(i, flagsOffset, -1); },
                 unpackFailed},
        BadImage{"time NaN", [](std::vector<char>& i) { put<double>(i, timeOffset, NAN); }, unpackFailed},
        BadImage{"inline integration on",
                 [](std::vector<char>& i) { put<int32_t>(i, solverIntsOffset + 4 * 5, 1); }, unpackFailed},
        BadImage{"model block inline integration on",
                 [](std::vector<char>& i) { putInBlock<int32_t>(i, offsetof(ModelData, inlineIntegration), 1); },
                 unpackFailed},
        BadImage{"model block event phase 77",
                 [](std::vector<char>& i) { putInBlock<int32_t>(i, offsetof(ModelData, eventPhase), 77); },
                 unpackFailed},
        BadImage{"model block profile count -3",
                 [](std::vector<char>& i) { putInBlock<int32_t>(i, offsetof(ModelData, blockProfileCount), -3); },
                 unpackFailed},
        BadImage{"model block profile count past its table",
                 [](std::vector<char>& i) {
                   putInBlock<int32_t>(i, offsetof(ModelData, blockProfileCount), modelProfileCapacity + 1);
                 },
                 unpackFailed},
        BadImage{"model block iteration limit 2^31-1",
                 [](std::vector<char>& i) { putInBlock<int32_t>(i, offsetof(ModelData, iterationLimit), INT32_MAX); },
                 unpackFailed},
        // The block one byte short, with the lengths made consistent so that the image loads.
        BadImage{"model block of another length",
                 [](std::vector<char>& i) {
                   i.erase(i.begin() + static_cast<long>(modelDataOffset));
                   put<uint32_t>(i, 4, static_cast<uint32_t>(i.size()));
                   put<uint32_t>(i, blobLengthOffset, modelDataBytes - 1);
                 },
                 unpackFailed}),
    quenzel_test::CaseNameFrom<&BadImage::what>{});

// Pointers planted in a well-formed image never reach the instance: after the restore its model
// block refers to its own solver blocks, and terminating and freeing it call nothing planted.
int plantedCalls = 0;
extern "C" void plantedDestructor(void*) { ++plantedCalls; }

TEST_F(FmuState, PointersPlantedInAnImageAreNeverUsed) {
  fmi2Component c = nullptr;
  std::vector<char> image = runningImage(&c);
  const uintptr_t junk = 0xDEADBEEFul;
  putInBlock(image, offsetof(ModelData, solverReals), junk);
  putInBlock(image, offsetof(ModelData, solverInts), junk);
  for (int k = 0; k < modelExternalObjectCapacity; ++k) {
    size_t slot = offsetof(ModelData, externalObjects) + k * sizeof(ExternalObjectSlot);
    putInBlock(image, slot, junk);
    putInBlock(image, slot + offsetof(ExternalObjectSlot, destructor), &plantedDestructor);
  }
  for (size_t field : {offsetof(ModelData, jacobianA), offsetof(ModelData, jacobianB), offsetof(ModelData, jacobianC),
                       offsetof(ModelData, jacobianD), offsetof(ModelData, stringTable)})
    putInBlock(image, field, junk);
  put(image, imageSize - 8, junk);  // the word readers ignore

  fmi2FMUstate state = nullptr;
  ASSERT_EQ(unit.fmi2DeSerializeFMUstate(c, image.data(), image.size(), &state), fmi2OK);
  ASSERT_EQ(unit.fmi2SetFMUstate(c, state), fmi2OK);
  fmi2Status status = fmi2Error;
  EXPECT_EQ(get(c, model::derFilterY, &status), get(c, model::derFilterY));
  EXPECT_EQ(status, fmi2OK);
  EXPECT_EQ(unit.fmi2Terminate(c), fmi2OK);
  freeState(c, &state);
  release(c);
  EXPECT_EQ(plantedCalls, 0);
}

}  // namespace
