#include "engine/ProcessingErrors.h"
#include "engine/ProcessingStage.h"
#include "engine/ProcessingTypes.h"
#include "engine/ProgressThrottle.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace orvanta;

TEST(ProcessingErrors, CarryTheTabledCodesAndTexts) {
    EXPECT_EQ(meterBufferError().description(), "Nu s-a putut crea buffer-ul audio");
    EXPECT_EQ(meterBufferError().code(), 2);
    EXPECT_EQ(passBufferError().description(), "Could not create audio buffer");
    EXPECT_EQ(outputNotCreatedError().code(), 3);
    EXPECT_EQ(outputNotCreatedError().description(), "Output file was not created");
    EXPECT_EQ(emptyFileError().code(), 4);
    EXPECT_EQ(emptyFileError().description(), "Audio file is empty");
    EXPECT_EQ(cancellationError().code(), 100);
    EXPECT_EQ(cancellationError().description(), "The process was canceled by the user");
    EXPECT_EQ(cancellationError().domain(), "Orvanta");
}

TEST(ProcessingErrors, WrapperTakesTheCauseCodeAndKeepsTheCause) {
    const Error wrapped = processingFailedError(cancellationError());
    EXPECT_EQ(wrapped.domain(), "Orvanta");
    EXPECT_EQ(wrapped.code(), 100);
    EXPECT_EQ(wrapped.description(), "Audio processing failed");
    ASSERT_NE(wrapped.underlying(), nullptr);
    EXPECT_EQ(wrapped.underlying()->description(), "The process was canceled by the user");
    EXPECT_TRUE(isCancellation(wrapped));

    const Error fileFailure("AudioFile", 1, "The file \"x.wav\" does not exist");
    const Error wrappedFile = processingFailedError(fileFailure);
    EXPECT_EQ(wrappedFile.code(), 1);
    EXPECT_FALSE(isCancellation(wrappedFile));
    EXPECT_NE(std::string(wrappedFile.what()).find("x.wav"), std::string::npos);
}

TEST(ProcessingStage, RawValuesRoundTripAndUnknownTextsGiveNothing) {
    EXPECT_EQ(allProcessingStages.size(), 8u);
    for (ProcessingStage stage : allProcessingStages) {
        EXPECT_EQ(processingStageFromRawValue(rawValue(stage)), stage);
    }
    EXPECT_EQ(rawValue(ProcessingStage::complete), "Mastering complete!");
    EXPECT_EQ(rawValue(ProcessingStage::detectingBPM), "Detecting BPM & rhythm...");
    EXPECT_FALSE(processingStageFromRawValue("Mastering complete").has_value());
}

TEST(ProgressThrottle, RoundsClampsAndOnlyMovesForward) {
    ProgressThrottle fresh;
    EXPECT_EQ(fresh.accept(0.004), 0.0);
    EXPECT_FALSE(fresh.accept(0.0049).has_value());
    EXPECT_EQ(fresh.accept(0.015), 0.02); // halves away from zero
    EXPECT_EQ(fresh.accept(0.995), 1.0);
    EXPECT_FALSE(fresh.accept(1.7).has_value());

    ProgressThrottle negative;
    EXPECT_EQ(negative.accept(-3), 0.0);
    ProgressThrottle notANumber;
    EXPECT_EQ(notANumber.accept(std::nan("")), 0.0);
}
