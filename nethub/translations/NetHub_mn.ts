<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="mn">
<context>
    <name>QObject</name>
    <message>
        <source>ID_OK</source>
        <translation>За</translation>
    </message>
    <message>
        <source>ID_ACCOUNT_LOGIN</source>
        <translation>Бүртгэлээр нэвтрэх</translation>
    </message>
    <message>
        <source>ID_AGREEMENT_DOC</source>
        <translation>Хэрэглэгчийн гэрээ</translation>
    </message>
    <message>
        <source>ID_ALREADY_MAKE_UPAN</source>
        <translation>Энэ USB диск аль хэдийн нэвтрэх диск болсон байна.</translation>
    </message>
    <message>
        <source>ID_AREA</source>
        <translation>Бүс нутаг</translation>
    </message>
    <message>
        <source>ID_BACK</source>
        <translation>Буцах</translation>
    </message>
    <message>
        <source>ID_BINDING_INFO_NOFOUND</source>
        <translation>Холбосон мэдээлэл олдсонгүй.</translation>
    </message>
    <message>
        <source>ID_CAMERA_INSERT</source>
        <translation>Камераа залгана уу.</translation>
    </message>
    <message>
        <source>ID_CAMERA_NOTEXIST</source>
        <translation>Камер олдсонгүй.</translation>
    </message>
    <message>
        <source>ID_CAMERA_OCCUPIED</source>
        <translation>Камер ашиглагдаж байна</translation>
    </message>
    <message>
        <source>ID_CAPS_OPEN</source>
        <translation>Том үсэг</translation>
    </message>
    <message>
        <source>ID_CHECK_NO_UPAN</source>
        <translation>USB диск залгаагүй байна.</translation>
    </message>
    <message>
        <source>ID_CHECK_PHONE</source>
        <translation>Зөв гар утасны дугаар оруулна уу.</translation>
    </message>
    <message>
        <source>ID_CHOOSE_CITY</source>
        <translation>Хот сонгох</translation>
    </message>
    <message>
        <source>ID_CHOOSE_GRADE</source>
        <translation>Анги сонгох</translation>
    </message>
    <message>
        <source>ID_CHOOSE_PROVINCE</source>
        <translation>Аймаг сонгох</translation>
    </message>
    <message>
        <source>ID_CITY</source>
        <translation>Хот</translation>
    </message>
    <message>
        <source>ID_CLICK_QUCKLOGIN</source>
        <translation>Дарж шууд нэвтрэх</translation>
    </message>
    <message>
        <source>ID_CLOSE_OTHER_APP</source>
        <translation>Үүнийг ашиглаж буй өөр програмыг хаана уу.</translation>
    </message>
    <message>
        <source>ID_CODE_ERROR</source>
        <translation>Баталгаажуулах код буруу байна.</translation>
    </message>
    <message>
        <source>ID_CODE_ERROR_L</source>
        <translation>Баталгаажуулах код буруу байна, дахин оруулна уу.</translation>
    </message>
    <message>
        <source>ID_CODE_LOGIN</source>
        <translation>Кодоор нэвтрэх</translation>
    </message>
    <message>
        <source>ID_CONFIRM_PASSWORD</source>
        <translation>Нууц үг баталгаажуулах</translation>
    </message>
    <message>
        <source>ID_CONNECTION</source>
        <translation>Холболт</translation>
    </message>
    <message>
        <source>ID_CONNECTION_TYPE</source>
        <translation>Холболтын төрөл</translation>
    </message>
    <message>
        <source>ID_CREATE</source>
        <translation>Үүсгэх</translation>
    </message>
    <message>
        <source>ID_CREATE_SCHOOL</source>
        <translation>Сургууль үүсгэх</translation>
    </message>
    <message>
        <source>ID_CREATE_SCHOOL_CONNECTION</source>
        <translation>Сургууль үүсгэж холбох</translation>
    </message>
    <message>
        <source>ID_CREATE_SCHOOL_TIP</source>
        <translation>Таны сургууль жагсаалтад алга уу? Үүсгэнэ үү.</translation>
    </message>
    <message>
        <source>ID_Cloud_Authenticate_Error</source>
        <translation>Үүлэн баталгаажуулалт амжилтгүй боллоо.</translation>
    </message>
    <message>
        <source>ID_DOREG_OK</source>
        <translation>Бүртгэл амжилттай боллоо.</translation>
    </message>
    <message>
        <source>ID_DOWNLOAD_NOW</source>
        <translation>Одоо татах</translation>
    </message>
    <message>
        <source>ID_FACELOGIN_NETERROR</source>
        <translation>Царайгаар нэвтэрч чадсангүй: сүлжээний алдаа.</translation>
    </message>
    <message>
        <source>ID_FACE_CHECKING</source>
        <translation>Царай таньж байна...</translation>
    </message>
    <message>
        <source>ID_FACE_CHECK_FAILED</source>
        <translation>Царай таних амжилтгүй боллоо.</translation>
    </message>
    <message>
        <source>ID_FACE_LOGIN</source>
        <translation>Царайгаар нэвтрэх</translation>
    </message>
    <message>
        <source>ID_FACE_STYLE</source>
        <translation>Камер руу шууд харна уу.</translation>
    </message>
    <message>
        <source>ID_FACE_TO_ACCOUNT_LOGIN</source>
        <translation>Бүртгэлээр нэвтрэх рүү шилжих</translation>
    </message>
    <message>
        <source>ID_FACE_TRYAGAIN</source>
        <translation>Дахин оролдоно уу.</translation>
    </message>
    <message>
        <source>ID_FINDPASSWORD_TIP</source>
        <translation>Нууц үгээ сэргээхийн тулд гар утасны дугаар эсвэл имэйлээ оруулна уу.</translation>
    </message>
    <message>
        <source>ID_FIND_PASSWORD</source>
        <translation>Нууц үг сэргээх</translation>
    </message>
    <message>
        <source>ID_FORGET_PASSWORD</source>
        <translation>Нууц үгээ мартсан уу?</translation>
    </message>
    <message>
        <source>ID_GOTO_GOVEMENT_LOGIN</source>
        <translation>Байгууллагаар нэвтрэх рүү очих</translation>
    </message>
    <message>
        <source>ID_GOVEMENT_LOGIN</source>
        <translation>Байгууллагаар нэвтрэх</translation>
    </message>
    <message>
        <source>ID_GOVEMENT_SELECT</source>
        <translation>Байгууллага сонгох</translation>
    </message>
    <message>
        <source>ID_HAVE_ACCOUNT</source>
        <translation>Бүртгэлтэй юу?</translation>
    </message>
    <message>
        <source>ID_VELARCLASS_TEST</source>
        <translation>Vela анги (туршилт)</translation>
    </message>
    <message>
        <source>ID_HTTP_ERROR</source>
        <translation>Серверийн хүсэлт амжилтгүй боллоо.</translation>
    </message>
    <message>
        <source>ID_HTTP_RESLUT_FORMAT_ERROR</source>
        <translation>Серверийн хариуны формат буруу байна.</translation>
    </message>
    <message>
        <source>ID_INPUT_CODE</source>
        <translation>Кодоо оруулна уу</translation>
    </message>
    <message>
        <source>ID_INPUT_CONFIRM_PASSWORD</source>
        <translation>Нууц үгээ дахин оруулна уу</translation>
    </message>
    <message>
        <source>ID_INPUT_PASSWORD</source>
        <translation>Нууц үгээ оруулна уу</translation>
    </message>
    <message>
        <source>ID_INPUT_PASSWORD_REG_TIP</source>
        <translation>6-16 тэмдэгт: үсэг, тоо эсвэл тэмдэг</translation>
    </message>
    <message>
        <source>ID_INPUT_PHONEOREMAIL</source>
        <translation>Гар утасны дугаар эсвэл имэйлээ оруулна уу</translation>
    </message>
    <message>
        <source>ID_INPUT_REGION_SCHOOL</source>
        <translation>Бүс нутаг, сургуулиа оруулна уу</translation>
    </message>
    <message>
        <source>ID_INPUT_SCHOOLNAME</source>
        <translation>Сургуулийн нэрийг оруулна уу</translation>
    </message>
    <message>
        <source>ID_INPUT_USERNAME</source>
        <translation>Хэрэглэгчийн нэрээ оруулна уу</translation>
    </message>
    <message>
        <source>ID_INPUT_VERCODE</source>
        <translation>Баталгаажуулах кодоо оруулна уу</translation>
    </message>
    <message>
        <source>ID_INPUT_YOURPASSWORD</source>
        <translation>Өөрийн нууц үгээ оруулна уу</translation>
    </message>
    <message>
        <source>ID_INSERT_UPAN</source>
        <translation>USB диск залгана уу.</translation>
    </message>
    <message>
        <source>ID_INSERT_UPAN_AUTO_LOGIN</source>
        <translation>Нэвтрэх USB дискийг залгахад автоматаар нэвтэрнэ.</translation>
    </message>
    <message>
        <source>ID_KNOW</source>
        <translation>Ойлголоо</translation>
    </message>
    <message>
        <source>ID_LOGINING</source>
        <translation>Нэвтэрч байна...</translation>
    </message>
    <message>
        <source>ID_LOGIN_BACK_SCAN_CODE</source>
        <translation>QR кодоор нэвтрэх рүү буцах</translation>
    </message>
    <message>
        <source>ID_LOGIN_CONFIRM_ON_PHONE</source>
        <translation>Гар утсан дээрээ нэвтрэлтийг баталгаажуулна уу.</translation>
    </message>
    <message>
        <source>ID_LOGIN_NOW</source>
        <translation>Одоо нэвтрэх</translation>
    </message>
    <message>
        <source>ID_LOGIN_OTHERAPP_TIP</source>
        <translation>Өөр газар нэвтэрсэн</translation>
    </message>
    <message>
        <source>ID_LOGIN_OTHERAPP_TIPCONTENT</source>
        <translation>Таны бүртгэл өөр төхөөрөмж дээр нэвтэрсэн тул эндээс гарлаа.</translation>
    </message>
    <message>
        <source>ID_LOGIN_REMEMBER_PASSWORD</source>
        <translation>Нууц үгийг санах</translation>
    </message>
    <message>
        <source>ID_MAKE_LOGIN_UPAN_SUCCESS</source>
        <translation>Нэвтрэх USB диск амжилттай бэлтгэгдлээ.</translation>
    </message>
    <message>
        <source>ID_MESSAGE_ERROR</source>
        <translation>Мессежийн алдаа</translation>
    </message>
    <message>
        <source>ID_MORE_INFO</source>
        <translation>Дэлгэрэнгүй мэдээлэл</translation>
    </message>
    <message>
        <source>ID_NEXT_STEP</source>
        <translation>Дараах</translation>
    </message>
    <message>
        <source>ID_NOT_HAVE_TEACHERAPP</source>
        <translation>Багшийн програм байхгүй юу?</translation>
    </message>
    <message>
        <source>ID_NO_HAVE_USERNAME</source>
        <translation>Бүртгэлгүй юу?</translation>
    </message>
    <message>
        <source>ID_NO_REG_FACE</source>
        <translation>Царай бүртгүүлээгүй байна.</translation>
    </message>
    <message>
        <source>ID_NO_SCHOOL</source>
        <translation>Сургууль олдсонгүй.</translation>
    </message>
    <message>
        <source>ID_NetWork_CHECK</source>
        <translation>Сүлжээний холболтоо шалгана уу.</translation>
    </message>
    <message>
        <source>ID_NetWork_Connect_Error</source>
        <translation>Сүлжээнд холбогдож чадсангүй.</translation>
    </message>
    <message>
        <source>ID_NetWork_ERROR</source>
        <translation>Сүлжээний алдаа</translation>
    </message>
    <message>
        <source>ID_OPERATION_FAILED</source>
        <translation>Үйлдэл амжилтгүй боллоо.</translation>
    </message>
    <message>
        <source>ID_OPERATION_TOOMANY</source>
        <translation>Хэт олон үйлдэл хийлээ, дараа дахин оролдоно уу.</translation>
    </message>
    <message>
        <source>ID_OPERATOR_REGFACE</source>
        <translation>Царайгаа бүртгүүлэх</translation>
    </message>
    <message>
        <source>ID_OPERATOR_TIMEOUT</source>
        <translation>Үйлдлийн хугацаа дууслаа.</translation>
    </message>
    <message>
        <source>ID_PASSWORD</source>
        <translation>Нууц үг</translation>
    </message>
    <message>
        <source>ID_PASSWORD_CONFIRMTIP</source>
        <translation>Нууц үгээ баталгаажуулна уу.</translation>
    </message>
    <message>
        <source>ID_PASSWORD_CONFIRM_UNSAME</source>
        <translation>Хоёр нууц үг ижил биш байна.</translation>
    </message>
    <message>
        <source>ID_PASSWORD_FINDOK</source>
        <translation>Нууц үг амжилттай шинэчлэгдлээ.</translation>
    </message>
    <message>
        <source>ID_PASSWORD_LEN</source>
        <translation>Нууц үгийн урт 6-16 тэмдэгт байна!</translation>
    </message>
    <message>
        <source>ID_PASSWORD_NOTEQUAL</source>
        <translation>Нууц үг таарахгүй байна.</translation>
    </message>
    <message>
        <source>ID_PASSWORD_TIP</source>
        <translation>Үсэг, тоо эсвэл тэмдэг</translation>
    </message>
    <message>
        <source>ID_PDF_FILE_OPEN_FAILED</source>
        <translation>PDF файлыг нээж чадсангүй.</translation>
    </message>
    <message>
        <source>ID_PHONE</source>
        <translation>Гар утасны дугаар</translation>
    </message>
    <message>
        <source>ID_PHONE_EMAIL</source>
        <translation>Гар утас эсвэл имэйл</translation>
    </message>
    <message>
        <source>ID_PHONE_UN_EXIST</source>
        <translation>Энэ гар утасны дугаар бүртгэлгүй байна.</translation>
    </message>
    <message>
        <source>ID_PREVIOUS_STEP</source>
        <translation>Өмнөх</translation>
    </message>
    <message>
        <source>ID_PROVINCE</source>
        <translation>Аймаг</translation>
    </message>
    <message>
        <source>ID_QUCKLOGIN_OVERTIME</source>
        <translation>QR кодын хугацаа дууссан, шинэчилнэ үү.</translation>
    </message>
    <message>
        <source>ID_REALNAME_LEN</source>
        <translation>Жинхэнэ нэр 2-20 тэмдэгт байна.</translation>
    </message>
    <message>
        <source>ID_REAL_NAME</source>
        <translation>Жинхэнэ нэр</translation>
    </message>
    <message>
        <source>ID_REFRESH</source>
        <translation>Шинэчлэх</translation>
    </message>
    <message>
        <source>ID_REG</source>
        <translation>Бүртгүүлэх</translation>
    </message>
    <message>
        <source>ID_REGFACE_READY</source>
        <translation>Царай бүртгэхэд бэлэн боллоо.</translation>
    </message>
    <message>
        <source>ID_REGISTER_AGREE</source>
        <translation>Би уншиж танилцаад зөвшөөрч байна:</translation>
    </message>
    <message>
        <source>ID_REGISTER_AGREEMENT</source>
        <translation>бүртгэлийн гэрээ</translation>
    </message>
    <message>
        <source>ID_REG_ACCOUNT</source>
        <translation>Бүртгэл үүсгэх</translation>
    </message>
    <message>
        <source>ID_REG_ALREADY</source>
        <translation>Аль хэдийн бүртгүүлсэн.</translation>
    </message>
    <message>
        <source>ID_REG_ALREADY_L</source>
        <translation>Энэ бүртгэл аль хэдийн үүссэн байна, нэвтэрнэ үү.</translation>
    </message>
    <message>
        <source>ID_REG_ERROR</source>
        <translation>Бүртгэл амжилтгүй боллоо.</translation>
    </message>
    <message>
        <source>ID_REG_FACE</source>
        <translation>Царай бүртгэл</translation>
    </message>
    <message>
        <source>ID_REG_FACE_CLOSE</source>
        <translation>Царай бүртгэлийг хаах</translation>
    </message>
    <message>
        <source>ID_REG_FACE_LAW</source>
        <translation>Таны царайны мэдээллийг зөвхөн нэвтрэхэд ашиглана.</translation>
    </message>
    <message>
        <source>ID_REG_FACE_NOW</source>
        <translation>Одоо царай бүртгүүлэх</translation>
    </message>
    <message>
        <source>ID_REG_FACE_TIMEOUT</source>
        <translation>Царай бүртгэлийн хугацаа дууслаа.</translation>
    </message>
    <message>
        <source>ID_REG_FACE_TIP</source>
        <translation>Царайгаа хүрээн дотор байлгана уу.</translation>
    </message>
    <message>
        <source>ID_REG_NOW</source>
        <translation>Одоо бүртгүүлэх</translation>
    </message>
    <message>
        <source>ID_REMEMBER_PASSWORD</source>
        <translation>Нууц үг санах</translation>
    </message>
    <message>
        <source>ID_REMOKE_UPAN_AUTO_LOGIN</source>
        <translation>USB дискээр автоматаар нэвтрэхийг цуцлах</translation>
    </message>
    <message>
        <source>ID_REMOVE_LOGIN_UPAN</source>
        <translation>Нэвтрэх USB дискийг чөлөөлөх</translation>
    </message>
    <message>
        <source>ID_REMOVE_LOGIN_UPAN_SUCCESS</source>
        <translation>Нэвтрэх USB диск амжилттай чөлөөлөгдлөө.</translation>
    </message>
    <message>
        <source>ID_RESET_PASSWORD</source>
        <translation>Нууц үг шинэчлэх</translation>
    </message>
    <message>
        <source>ID_RESOURCE_COMPLETE</source>
        <translation>Нөөц бэлэн боллоо</translation>
    </message>
    <message>
        <source>ID_SCAN_DOWNLOAD_APP</source>
        <translation>Скан хийж програм татах</translation>
    </message>
    <message>
        <source>ID_SCHOOL_NAME</source>
        <translation>Сургуулийн нэр</translation>
    </message>
    <message>
        <source>ID_SCHOOL_SEARCH</source>
        <translation>Сургууль хайх</translation>
    </message>
    <message>
        <source>ID_SCHOOL_SEARCH_KEYWORD</source>
        <translation>Сургуулийн түлхүүр үг оруулна уу</translation>
    </message>
    <message>
        <source>ID_SCHOOL_UNEXIST</source>
        <translation>Сургууль байхгүй байна.</translation>
    </message>
    <message>
        <source>ID_SECOND</source>
        <translation>сек</translation>
    </message>
    <message>
        <source>ID_SELECT_AREA</source>
        <translation>Бүс нутаг сонгох</translation>
    </message>
    <message>
        <source>ID_SELECT_LOGIN_UPAN</source>
        <translation>Нэвтрэх USB диск сонгох</translation>
    </message>
    <message>
        <source>ID_SELECT_REGION</source>
        <translation>Бүс сонгох</translation>
    </message>
    <message>
        <source>ID_SELECT_SUBJECT</source>
        <translation>Хичээл сонгох</translation>
    </message>
    <message>
        <source>ID_SELECT_UPAN</source>
        <translation>USB диск сонгох</translation>
    </message>
    <message>
        <source>ID_SENDINFO_TOOMANY</source>
        <translation>Хэт олон код илгээлээ, дараа дахин оролдоно уу.</translation>
    </message>
    <message>
        <source>ID_SEND_CODE</source>
        <translation>Код илгээх</translation>
    </message>
    <message>
        <source>ID_SPEECH_CODE</source>
        <translation>Дуут код</translation>
    </message>
    <message>
        <source>ID_SPEECH_CODE_TIP</source>
        <translation>Танд кодыг уншиж өгөх дуудлага ирнэ.</translation>
    </message>
    <message>
        <source>ID_SURPLUS</source>
        <translation>Үлдсэн</translation>
    </message>
    <message>
        <source>ID_SWITCH_ACCOUNTLOGIN</source>
        <translation>Бүртгэлээр нэвтрэхэд шилжих</translation>
    </message>
    <message>
        <source>ID_SWITCH_FACE_LOGIN</source>
        <translation>Царайгаар нэвтрэхэд шилжих</translation>
    </message>
    <message>
        <source>ID_SWITCH_QUCKLOGIN</source>
        <translation>QR кодоор нэвтрэхэд шилжих</translation>
    </message>
    <message>
        <source>ID_TOKEN_ERROR</source>
        <translation>Нэвтрэлтийн хугацаа дууссан, дахин нэвтэрнэ үү.</translation>
    </message>
    <message>
        <source>ID_TOOMANY</source>
        <translation>Хэт олон удаа оролдлоо.</translation>
    </message>
    <message>
        <source>ID_UNREG</source>
        <translation>Бүртгэлгүй</translation>
    </message>
    <message>
        <source>ID_UPAN_AUTO_LOGIN</source>
        <translation>USB дискээр автоматаар нэвтрэх</translation>
    </message>
    <message>
        <source>ID_UPAN_AUTO_LOGIN_START_TIP</source>
        <translation>USB дискээр автоматаар нэвтрэх идэвхжлээ.</translation>
    </message>
    <message>
        <source>ID_UPAN_AUTO_LOGIN_TIP</source>
        <translation>Нэвтрэх USB дискийг залгахад та автоматаар нэвтэрнэ.</translation>
    </message>
    <message>
        <source>ID_UPAN_LOGIN_MAKE</source>
        <translation>Нэвтрэх USB диск бэлтгэх</translation>
    </message>
    <message>
        <source>ID_UPAN_MAKE</source>
        <translation>Бэлтгэх</translation>
    </message>
    <message>
        <source>ID_UPAN_NOT_HAVE</source>
        <translation>Нэвтрэх USB диск олдсонгүй.</translation>
    </message>
    <message>
        <source>ID_USERNAME_DISABLE</source>
        <translation>Энэ бүртгэлийг хаасан байна.</translation>
    </message>
    <message>
        <source>ID_USERNAME_LOGINFAILURE</source>
        <translation>Нэвтэрч чадсангүй.</translation>
    </message>
    <message>
        <source>ID_USERNAME_NOACTIVATED</source>
        <translation>Энэ бүртгэл идэвхжээгүй байна.</translation>
    </message>
    <message>
        <source>ID_USERNAME_PASSWORD_ERROR</source>
        <translation>Хэрэглэгчийн нэр эсвэл нууц үг буруу байна.</translation>
    </message>
    <message>
        <source>ID_USERNAME_PASSWORD_ERROR_TOMANY</source>
        <translation>Нууц үгийг хэт олон удаа буруу оруулсан, дараа дахин оролдоно уу.</translation>
    </message>
    <message>
        <source>ID_USER_LOGIN</source>
        <translation>Хэрэглэгч нэвтрэх</translation>
    </message>
    <message>
        <source>ID_USER_UN_EXIST</source>
        <translation>Хэрэглэгч байхгүй байна.</translation>
    </message>
    <message>
        <source>ID_USE_DIRECT</source>
        <translation>Шууд ашиглах</translation>
    </message>
    <message>
        <source>ID_USE_PAVOCLASSAPP</source>
        <translation>Pavo анги програмаар скан хийх</translation>
    </message>
    <message>
        <source>ID_USE_OTHERACCOUNT</source>
        <translation>Өөр бүртгэл ашиглах</translation>
    </message>
    <message>
        <source>ID_USE_WEIXIN_PAVOCLASSAPP</source>
        <translation>WeChat эсвэл Pavo анги програмаар скан хийх</translation>
    </message>
    <message>
        <source>ID_VERIFICATION_FAILURE</source>
        <translation>Баталгаажуулалт амжилтгүй боллоо.</translation>
    </message>
    <message>
        <source>ID_WEIXIN</source>
        <translation>WeChat</translation>
    </message>
    <message>
        <source>ID_WELCOM_YOU</source>
        <translation>Тавтай морил</translation>
    </message>
    <message>
        <source>ID_WIFI_NETWORK</source>
        <translation>Wi-Fi сүлжээ</translation>
    </message>
</context>
<context>
    <name>ZQOrganizationBindPage</name>
    <message>
        <source>ID_OK</source>
        <translation>За</translation>
    </message>
</context>
</TS>
