#include "ModelTestSupport.h"

#include <gtest/gtest.h>

using namespace model_test;

namespace {

std::string Range(const std::string& minimum, const std::string& maximum, const std::string& step = "") {
    std::string text = "<allowedValueRange>";
    if (!minimum.empty()) {
        text += "<minimum>" + minimum + "</minimum>";
    }
    if (!maximum.empty()) {
        text += "<maximum>" + maximum + "</maximum>";
    }
    if (!step.empty()) {
        text += "<step>" + step + "</step>";
    }
    return text + "</allowedValueRange>";
}

std::string Argument(const std::string& name, const std::string& direction, const std::string& variable,
                     const std::string& extra = "") {
    return "<argument><name>" + name + "</name><direction>" + direction +
           "</direction><relatedStateVariable>" + variable + "</relatedStateVariable>" + extra +
           "</argument>";
}

std::string Action(const std::string& name, const std::string& arguments) {
    return "<action><name>" + name + "</name><argumentList>" + arguments + "</argumentList></action>";
}

} // namespace

TEST(ServiceTest, RangesTakeTheTypeBoundsAndWriteBack) {
    struct Case {
        const char* type;
        std::string range;
        int64_t minimum;
        int64_t maximum;
        int64_t step;
        const char* written;
    };
    const Case cases[] = {
        {"ui2", Range("", ""), 0, 65535, -1,
         "<minimum>0</minimum>\r\n        <maximum>65535</maximum>\r\n      <"},
        {"ui4", Range("", ""), 0, 4294967295LL, -1, "<maximum>4294967295</maximum>"},
        {"i1", Range("", "10", "2"), -128, 10, 2, "<step>2</step>"},
        {"i4", Range("", ""), -2147483648LL, 2147483647, -1, "<minimum>-2147483648</minimum>"},
        {"string", Range("1", "5"), 1, 5, -1, "<maximum>5</maximum>"},
    };
    for (const Case& c : cases) {
        auto service = LoadService(Scpd(Variable("V", c.type, c.range)));
        ASSERT_NE(service, nullptr) << c.type;
        const KL_AllowedValueRange* range = service->FindStateVariable("V")->GetAllowedValueRange();
        ASSERT_NE(range, nullptr);
        EXPECT_EQ(range->min_value, c.minimum) << c.type;
        EXPECT_EQ(range->max_value, c.maximum) << c.type;
        EXPECT_EQ(range->step, c.step) << c.type;
        KL_String scpd;
        ASSERT_EQ(service->GetSCPDXML(scpd), KL_SUCCESS);
        EXPECT_NE(std::string(scpd.GetChars()).find(c.written), std::string::npos) << scpd.GetChars();
        EXPECT_EQ(c.step == -1, std::string(scpd.GetChars()).find("<step>") == std::string::npos);
    }
}

TEST(ServiceTest, RefusedScpds) {
    const std::string good = Variable("V", "string");
    const std::string refused[] = {
        "<scpdx/>",
        "not xml",
        Scpd(""),
        Scpd(Variable("", "string")),
        Scpd(Variable("V", "")),
        Scpd(Variable("V", "string", Range("", "5"))),
        Scpd(Variable("V", "string", Range("1", ""))),
        Scpd(good, "<action><name></name></action>"),
        Scpd(good, Action("A", Argument("X", "in", "Missing"))),
        Scpd(good, Action("A", Argument("X", "", "V"))),
        Scpd(good,
             Action("A", Argument("X", "out", "V", "<retval/>") + Argument("Y", "out", "V", "<retVal/>"))),
    };
    for (const std::string& text : refused) {
        EXPECT_EQ(MakeService()->SetSCPDXML(text.c_str()), KL_FAILURE) << text;
    }
    EXPECT_EQ(MakeService()->SetSCPDXML(nullptr), KL_ERROR_INVALID_PARAMETERS);
    auto service = MakeService();
    KL_String scpd;
    EXPECT_EQ(service->GetSCPDXML(scpd), KL_FAILURE);
}

TEST(ServiceTest, ReturnValueMarkerReadInBothSpellingsWrittenAsRetval) {
    for (const char* marker : {"<retval/>", "<retVal/>"}) {
        auto service =
            LoadService(Scpd(Variable("V", "string"), Action("A", Argument("X", "out", "V", marker))));
        ASSERT_NE(service, nullptr);
        EXPECT_TRUE(service->FindActionDesc("A")->FindArgumentDesc("x")->HasReturnValue());
        KL_String scpd;
        ASSERT_EQ(service->GetSCPDXML(scpd), KL_SUCCESS);
        EXPECT_NE(std::string(scpd.GetChars()).find("</relatedStateVariable>\r\n          <retval/>"),
                  std::string::npos);
    }
}

TEST(ServiceTest, AllowedValuesValidation) {
    auto service = LoadService(
        Scpd(Variable("S", "string",
                      "<allowedValueList><allowedValue>A</allowedValue><allowedValue>B</allowedValue>"
                      "</allowedValueList>") +
             Variable("U", "ui4", "<allowedValueList><allowedValue>1</allowedValue></allowedValueList>")));
    ASSERT_NE(service, nullptr);
    struct Case {
        const char* variable;
        const char* value;
        KL_Result result;
    };
    const Case cases[] = {{"S", "A", KL_SUCCESS},
                          {"S", "A, B", KL_SUCCESS},
                          {"S", " b ,a", KL_SUCCESS},
                          {"S", "A,C", KL_ERROR_INVALID_PARAMETERS},
                          {"S", "", KL_ERROR_INVALID_PARAMETERS},
                          {"U", "anything", KL_SUCCESS}};
    for (const Case& c : cases) {
        EXPECT_EQ(service->SetStateVariable(c.variable, c.value), c.result) << c.value;
    }
    KL_String value;
    ASSERT_EQ(service->GetStateVariableValue("s", value), KL_SUCCESS);
    EXPECT_EQ(value, " b ,a"); // a refused value leaves the previous one
    EXPECT_EQ(service->SetStateVariable("S", nullptr), KL_FAILURE);
    EXPECT_EQ(service->SetStateVariable("Nope", "A"), KL_FAILURE);
    EXPECT_EQ(service->GetStateVariableValue("Nope", value), KL_ERROR_INVALID_PARAMETERS);
}

TEST(ServiceTest, ChangesAreReportedOnlyForNewValues) {
    auto service = LoadService(Scpd(Variable("V", "string", "", "yes")));
    ASSERT_NE(service, nullptr);
    ASSERT_EQ(service->SetStateVariable("V", "1"), KL_SUCCESS);
    ASSERT_EQ(service->SetStateVariable("V", "1"), KL_SUCCESS);
    EXPECT_EQ(service->GetChangeReportCount(), 1u);
    ASSERT_EQ(service->SetStateVariable("V", "2"), KL_SUCCESS);
    EXPECT_EQ(service->GetChangeReportCount(), 2u);
}

TEST(ServiceTest, EventingFlags) {
    auto service = LoadService(Scpd(Variable("A_ARG_TYPE_Count", "ui4") + Variable("Plain", "string") +
                                    Variable("Evented", "string", "", "yes") + Variable("Off", "string")));
    ASSERT_NE(service, nullptr);
    EXPECT_FALSE(service->FindStateVariable("A_ARG_TYPE_Count")->IsSendingEvents(true));
    EXPECT_TRUE(service->FindStateVariable("Plain")->IsSendingEvents(true));
    EXPECT_FALSE(service->FindStateVariable("Evented")->IsSendingEvents(true));
    EXPECT_TRUE(service->FindStateVariable("Evented")->IsSendingEvents());
    service->FindStateVariable("Off")->DisableIndirectEventing();
    EXPECT_FALSE(service->FindStateVariable("Off")->IsSendingEvents(true));
    EXPECT_TRUE(service->IsSubscribable());
    EXPECT_EQ(service->SetStateVariableRate("Plain", KL_TimeStamp::FromSeconds(2)), KL_FAILURE);
    EXPECT_EQ(service->SetStateVariableRate("Evented", KL_TimeStamp::FromSeconds(2)), KL_SUCCESS);
    EXPECT_TRUE(service->FindStateVariable("Evented")->IsReadyToPublish());
    EXPECT_FALSE(service->FindStateVariable("Evented")->IsReadyToPublish()); // within the 2 s rate
    EXPECT_TRUE(service->FindStateVariable("Plain")->IsReadyToPublish());
    EXPECT_TRUE(service->FindStateVariable("Plain")->IsReadyToPublish());
}

TEST(ServiceTest, IncrementsAndExtraAttributes) {
    auto service = LoadService(Scpd(Variable("N", "ui4") + Variable("T", "string")));
    ASSERT_NE(service, nullptr);
    ASSERT_EQ(service->SetStateVariable("N", "41"), KL_SUCCESS);
    ASSERT_EQ(service->IncStateVariable("N"), KL_SUCCESS);
    KL_String value;
    ASSERT_EQ(service->GetStateVariableValue("N", value), KL_SUCCESS);
    EXPECT_EQ(value, "42");
    EXPECT_EQ(service->IncStateVariable("T"), KL_FAILURE); // empty
    ASSERT_EQ(service->SetStateVariable("T", "x"), KL_SUCCESS);
    EXPECT_EQ(service->IncStateVariable("T"), KL_FAILURE);
    EXPECT_EQ(service->IncStateVariable("Nope"), KL_FAILURE);

    EXPECT_EQ(service->SetStateVariableExtraAttribute("T", "channel", "Master"), KL_SUCCESS);
    EXPECT_EQ(service->SetStateVariableExtraAttribute("Nope", "channel", "Master"), KL_FAILURE);
    KL_XmlElementNode element("", "T");
    ASSERT_EQ(service->FindStateVariable("T")->Serialize(&element), KL_SUCCESS);
    EXPECT_EQ(UP_XmlHelper::Serialize(element), "<T channel=\"Master\" val=\"x\"/>");
}

TEST(ServiceTest, ForceVersionAndTrueTexts) {
    auto service = MakeService();
    EXPECT_EQ(service->ForceVersion(0), KL_FAILURE);
    EXPECT_EQ(service->ForceVersion(2), KL_SUCCESS);
    EXPECT_EQ(service->GetServiceType(), "urn:schemas-lanyard-org:service:Test:2");
    for (const char* text : {"1", "TRUE", "yes", "Yes"}) {
        EXPECT_TRUE(UP_IsTrueText(text)) << text;
    }
    for (const char* text : {"0", "no", "", "y", "truth"}) {
        EXPECT_FALSE(UP_IsTrueText(text)) << text;
    }
    EXPECT_FALSE(UP_IsTrueText(nullptr));
}

TEST(ServiceTest, MediaServerScpdsPrintAsAFixedPoint) {
    for (const char* name : {"ContentDirectory", "ConnectionManager"}) {
        auto service = LoadService(ReadDataFile(std::string(name) + ".xml"));
        ASSERT_NE(service, nullptr) << name;
        KL_String first;
        ASSERT_EQ(service->GetSCPDXML(first), KL_SUCCESS);
        EXPECT_EQ(std::string(first.GetChars()), ReadDataFile(std::string(name) + ".scpd.golden")) << name;
        auto again = LoadService(first.GetChars());
        ASSERT_NE(again, nullptr);
        KL_String second;
        ASSERT_EQ(again->GetSCPDXML(second), KL_SUCCESS);
        EXPECT_EQ(second, first) << name;
    }
}
