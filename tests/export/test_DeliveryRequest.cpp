#include "export/DeliveryRequest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

MelodyFields melody()
{
    return {"&song=tune", "&usedtnt=0", "&dfs=2112500001", "&mps=QUJD"};
}

TEST(DeliveryChecks, MessagesOfTheMailAndPhoneChecks)
{
    DeliveryChoice choice;
    choice.mailTo = "user.example.org";
    EXPECT_EQ(checkDelivery(choice), kInvalidMailText);
    choice.mailTo = "@example.org";
    EXPECT_EQ(checkDelivery(choice), kInvalidMailText);
    choice.mailTo = "u@example.org";
    EXPECT_EQ(checkDelivery(choice), "");

    choice.sms = true;
    choice.phoneNumber = "1305555";
    EXPECT_EQ(checkDelivery(choice), kInvalidPhoneText);
    choice.phoneNumber = "1305 5551234";
    EXPECT_EQ(checkDelivery(choice), kInvalidPhoneText);
    choice.phoneNumber = "13055551234";
    EXPECT_EQ(checkDelivery(choice), "");

    // Without e-mail delivery the address is not checked, but still sent.
    choice.email = false;
    choice.mailTo = "";
    EXPECT_EQ(checkDelivery(choice), "");
    EXPECT_EQ(kInvalidMailText, "Please enter valid email address!");
    EXPECT_EQ(kInvalidPhoneText, "Please enter valid Phone Number!");
}

TEST(DeliveryGroup, UncheckingBothFormsEndsMailDeliveryAndCheckingOneStartsIt)
{
    DeliveryChoice choice;
    choice.rtttl = false;
    deliveryFormClicked(choice);
    EXPECT_FALSE(choice.email);
    DeliveryControls controls = deliveryControls(choice, 7);
    EXPECT_FALSE(controls.receive);
    EXPECT_FALSE(controls.mail);
    EXPECT_FALSE(controls.rtttl);
    EXPECT_TRUE(controls.sms);

    choice.sms = true;
    controls = deliveryControls(choice, 7);
    EXPECT_TRUE(controls.receive);
    EXPECT_TRUE(controls.phoneNumber);

    choice.midi = true;
    deliveryFormClicked(choice);
    EXPECT_TRUE(choice.email);
    EXPECT_FALSE(choice.rtttl);
    choice.midi = false;
    choice.email = true;
    deliveryMailClicked(choice); // e-mail on without a form: RTTTL
    EXPECT_TRUE(choice.rtttl);

    // DelivOpt 5 offers RTTTL and SMS, not MIDI.
    controls = deliveryControls(choice, 5);
    EXPECT_TRUE(controls.rtttl);
    EXPECT_FALSE(controls.midi);
    EXPECT_TRUE(controls.sms);
    EXPECT_FALSE(deliveryControls(choice, 1).sms);
}

TEST(DeliveryRequestBody, FieldOrderAndOptionValue)
{
    DeliveryChoice choice;
    choice.mailTo = "u@example.org";
    EXPECT_EQ(requestBody(melody(), choice),
              "aqt=rtc&song=tune&usedtnt=0&mailto=u@example.org&dvropt=1&dfs=2112500001&mps=QUJD");
    choice.sms = true;
    choice.midi = true;
    choice.phoneNumber = "13055551234";
    EXPECT_EQ(requestBody(melody(), choice), "aqt=rtc&song=tune&usedtnt=0&mailto=u@example.org&phonen=13055551234"
                                             "&dvropt=7&dfs=2112500001&mps=QUJD");
    choice.email = false;
    EXPECT_EQ(deliveryOptionValue(choice), 4);
}

TEST(DeliveryRequestBody, FreeTextCannotStartAnotherField)
{
    EXPECT_EQ(formValue("a+b&c=d%e f\r\n\xC3\xA9"), "a%2Bb%26c=d%25e%20f%0D%0A%C3%A9");
    DeliveryChoice choice;
    choice.mailTo = "me+x@example.org&phonen=1";
    EXPECT_EQ(requestBody(melody(), choice).find("&phonen"), std::string::npos);
    EXPECT_EQ(serviceAddress("", "/rtc"), "");
    EXPECT_EQ(serviceAddress("example.org", "/cgi/rtc"), "http://example.org/cgi/rtc");
}

TEST(ServiceAnswer, ThankYouPageShowsTwoLinesWithATab)
{
    ServiceResponse response;
    ASSERT_TRUE(parseServiceResponse("  BEGIN\nrsp=ok\r\nrspmsg=Thank you##Bye\r\nEND\r\n\r\n", response));
    const ServiceResult result = interpretResponse(response);
    EXPECT_EQ(result.code, "ok");
    EXPECT_EQ(result.message, "Thank you\n\tBye\n");
    EXPECT_FALSE(result.deliveryOptions);
    EXPECT_FALSE(result.update);
}

TEST(ServiceAnswer, KeysValuesAndFirstOccurrence)
{
    ServiceResponse response;
    ASSERT_TRUE(parseServiceResponse("BEGIN\nrsp=err\r\nflag\r\nrspmsg=a=b\r\nrsp=ok\r\nrspmsg1=second#?line\r\n"
                                     "dvropt=5\r\nupdate=New#!-version\r\nEND",
                                     response));
    ASSERT_NE(response.find("flag"), nullptr);
    EXPECT_EQ(*response.find("flag"), "");
    const ServiceResult result = interpretResponse(response);
    EXPECT_EQ(result.code, "err");
    EXPECT_EQ(result.message, "a=b\nsecond\n line");
    EXPECT_EQ(result.deliveryOptions, 5);
    EXPECT_EQ(result.update, "New\n\t\tversion");

    ASSERT_TRUE(parseServiceResponse("BEGIN\ndvropt=high\r\nEND", response));
    const ServiceResult unknown = interpretResponse(response);
    EXPECT_EQ(unknown.code, "err");
    EXPECT_EQ(unknown.message, "Unknowing Error\n");
    EXPECT_FALSE(unknown.deliveryOptions);
}

TEST(ServiceAnswer, PagesOfAnotherFormAreRefused)
{
    ServiceResponse response;
    EXPECT_FALSE(parseServiceResponse("<html>BEGIN rsp=ok END</html>", response));
    EXPECT_FALSE(parseServiceResponse("BEGIN\nrsp=ok\r\nEN", response));
    EXPECT_FALSE(parseServiceResponse("", response));
    // The bare frame is of the form and holds nothing.
    ASSERT_TRUE(parseServiceResponse("BEGINEND", response));
    EXPECT_TRUE(response.lines.empty());
}

TEST(ServiceAnswer, EscapeCodesInOrderAndNotAtTheFirstCharacter)
{
    EXPECT_EQ(replaceEscapeCodes("a##b##c"), "a\n\tb\n\tc");
    EXPECT_EQ(replaceEscapeCodes("##a##b"), "##a##b");
    EXPECT_EQ(replaceEscapeCodes("x#?y#!-z"), "x\n y\n\t\tz");
    EXPECT_EQ(replaceEscapeCodes("a###!-"), "a\n\t\n\t\t"); // the third "#" begins "#!-"
}

} // namespace
