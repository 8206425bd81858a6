<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>QObject</name>
    <message>
        <source>ID_OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>ID_ACCOUNT_LOGIN</source>
        <translation>Account</translation>
    </message>
    <message>
        <source>ID_AGREEMENT_DOC</source>
        <translation>User agreement</translation>
    </message>
    <message>
        <source>ID_ALREADY_MAKE_UPAN</source>
        <translation>This USB stick is already a login stick.</translation>
    </message>
    <message>
        <source>ID_AREA</source>
        <translation>Area</translation>
    </message>
    <message>
        <source>ID_BACK</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>ID_BINDING_INFO_NOFOUND</source>
        <translation>No binding information found.</translation>
    </message>
    <message>
        <source>ID_CAMERA_INSERT</source>
        <translation>Please connect a camera.</translation>
    </message>
    <message>
        <source>ID_CAMERA_NOTEXIST</source>
        <translation>No camera found.</translation>
    </message>
    <message>
        <source>ID_CAMERA_OCCUPIED</source>
        <translation>Camera occupied</translation>
    </message>
    <message>
        <source>ID_CAPS_OPEN</source>
        <translation>Upper case</translation>
    </message>
    <message>
        <source>ID_CHECK_NO_UPAN</source>
        <translation>No u-Disk inserted.</translation>
    </message>
    <message>
        <source>ID_CHECK_PHONE</source>
        <translation>Please enter a valid mobile number.</translation>
    </message>
    <message>
        <source>ID_CHOOSE_CITY</source>
        <translation>Choose a city</translation>
    </message>
    <message>
        <source>ID_CHOOSE_GRADE</source>
        <translation>Choose a grade</translation>
    </message>
    <message>
        <source>ID_CHOOSE_PROVINCE</source>
        <translation>Choose a province</translation>
    </message>
    <message>
        <source>ID_CITY</source>
        <translation>City</translation>
    </message>
    <message>
        <source>ID_CLICK_QUCKLOGIN</source>
        <translation>Click to sign in quickly</translation>
    </message>
    <message>
        <source>ID_CLOSE_OTHER_APP</source>
        <translation>Please close the other application using it.</translation>
    </message>
    <message>
        <source>ID_CODE_ERROR</source>
        <translation>Wrong verification code.</translation>
    </message>
    <message>
        <source>ID_CODE_ERROR_L</source>
        <translation>Wrong verification code, please enter it again.</translation>
    </message>
    <message>
        <source>ID_CODE_LOGIN</source>
        <translation>Sign in with code</translation>
    </message>
    <message>
        <source>ID_CONFIRM_PASSWORD</source>
        <translation>Confirm password</translation>
    </message>
    <message>
        <source>ID_CONNECTION</source>
        <translation>Connection</translation>
    </message>
    <message>
        <source>ID_CONNECTION_TYPE</source>
        <translation>Connection type</translation>
    </message>
    <message>
        <source>ID_CREATE</source>
        <translation>Create</translation>
    </message>
    <message>
        <source>ID_CREATE_SCHOOL</source>
        <translation>Create school</translation>
    </message>
    <message>
        <source>ID_CREATE_SCHOOL_CONNECTION</source>
        <translation>Create and link the school</translation>
    </message>
    <message>
        <source>ID_CREATE_SCHOOL_TIP</source>
        <translation>Your school is not listed? Create it.</translation>
    </message>
    <message>
        <source>ID_Cloud_Authenticate_Error</source>
        <translation>Cloud authentication failed.</translation>
    </message>
    <message>
        <source>ID_DOREG_OK</source>
        <translation>Registration succeeded.</translation>
    </message>
    <message>
        <source>ID_DOWNLOAD_NOW</source>
        <translation>Download now</translation>
    </message>
    <message>
        <source>ID_FACELOGIN_NETERROR</source>
        <translation>Face sign-in failed: network error.</translation>
    </message>
    <message>
        <source>ID_FACE_CHECKING</source>
        <translation>Recognising the face...</translation>
    </message>
    <message>
        <source>ID_FACE_CHECK_FAILED</source>
        <translation>Face recognition failed.</translation>
    </message>
    <message>
        <source>ID_FACE_LOGIN</source>
        <translation>Face sign-in</translation>
    </message>
    <message>
        <source>ID_FACE_STYLE</source>
        <translation>Please face the camera directly.</translation>
    </message>
    <message>
        <source>ID_FACE_TO_ACCOUNT_LOGIN</source>
        <translation>Sign in with an account instead</translation>
    </message>
    <message>
        <source>ID_FACE_TRYAGAIN</source>
        <translation>Please try again.</translation>
    </message>
    <message>
        <source>ID_FINDPASSWORD_TIP</source>
        <translation>Enter your mobile number or e-mail to recover your password.</translation>
    </message>
    <message>
        <source>ID_FIND_PASSWORD</source>
        <translation>Recover password</translation>
    </message>
    <message>
        <source>ID_FORGET_PASSWORD</source>
        <translation>Forgot password?</translation>
    </message>
    <message>
        <source>ID_GOTO_GOVEMENT_LOGIN</source>
        <translation>Go to organisation sign-in</translation>
    </message>
    <message>
        <source>ID_GOVEMENT_LOGIN</source>
        <translation>Organisation sign-in</translation>
    </message>
    <message>
        <source>ID_GOVEMENT_SELECT</source>
        <translation>Select an organisation</translation>
    </message>
    <message>
        <source>ID_HAVE_ACCOUNT</source>
        <translation>Already have an account?</translation>
    </message>
    <message>
        <source>ID_VELARCLASS_TEST</source>
        <translation>Vela Class (test)</translation>
    </message>
    <message>
        <source>ID_HTTP_ERROR</source>
        <translation>Server request failed.</translation>
    </message>
    <message>
        <source>ID_HTTP_RESLUT_FORMAT_ERROR</source>
        <translation>The server's answer has a wrong format.</translation>
    </message>
    <message>
        <source>ID_INPUT_CODE</source>
        <translation>Enter the code</translation>
    </message>
    <message>
        <source>ID_INPUT_CONFIRM_PASSWORD</source>
        <translation>Enter the password again</translation>
    </message>
    <message>
        <source>ID_INPUT_PASSWORD</source>
        <translation>Enter the password</translation>
    </message>
    <message>
        <source>ID_INPUT_PASSWORD_REG_TIP</source>
        <translation>6-16 characters: letters, digits or symbols</translation>
    </message>
    <message>
        <source>ID_INPUT_PHONEOREMAIL</source>
        <translation>Enter a mobile number or e-mail</translation>
    </message>
    <message>
        <source>ID_INPUT_REGION_SCHOOL</source>
        <translation>Enter the region and school</translation>
    </message>
    <message>
        <source>ID_INPUT_SCHOOLNAME</source>
        <translation>Enter the school name</translation>
    </message>
    <message>
        <source>ID_INPUT_USERNAME</source>
        <translation>Enter the user name</translation>
    </message>
    <message>
        <source>ID_INPUT_VERCODE</source>
        <translation>Enter the verification code</translation>
    </message>
    <message>
        <source>ID_INPUT_YOURPASSWORD</source>
        <translation>Enter your password</translation>
    </message>
    <message>
        <source>ID_INSERT_UPAN</source>
        <translation>Please insert a USB stick.</translation>
    </message>
    <message>
        <source>ID_INSERT_UPAN_AUTO_LOGIN</source>
        <translation>Insert the login stick to sign in automatically.</translation>
    </message>
    <message>
        <source>ID_KNOW</source>
        <translation>Got it</translation>
    </message>
    <message>
        <source>ID_LOGINING</source>
        <translation>Signing in...</translation>
    </message>
    <message>
        <source>ID_LOGIN_BACK_SCAN_CODE</source>
        <translation>Back to QR code sign-in</translation>
    </message>
    <message>
        <source>ID_LOGIN_CONFIRM_ON_PHONE</source>
        <translation>Confirm the sign-in on your phone.</translation>
    </message>
    <message>
        <source>ID_LOGIN_NOW</source>
        <translation>Sign in now</translation>
    </message>
    <message>
        <source>ID_LOGIN_OTHERAPP_TIP</source>
        <translation>Signed in elsewhere</translation>
    </message>
    <message>
        <source>ID_LOGIN_OTHERAPP_TIPCONTENT</source>
        <translation>Your account has signed in on another device, so you have been signed out here.</translation>
    </message>
    <message>
        <source>ID_LOGIN_REMEMBER_PASSWORD</source>
        <translation>Remember the password</translation>
    </message>
    <message>
        <source>ID_MAKE_LOGIN_UPAN_SUCCESS</source>
        <translation>The login stick has been made.</translation>
    </message>
    <message>
        <source>ID_MESSAGE_ERROR</source>
        <translation>Message error</translation>
    </message>
    <message>
        <source>ID_MORE_INFO</source>
        <translation>More information</translation>
    </message>
    <message>
        <source>ID_NEXT_STEP</source>
        <translation>Next</translation>
    </message>
    <message>
        <source>ID_NOT_HAVE_TEACHERAPP</source>
        <translation>No teacher app yet?</translation>
    </message>
    <message>
        <source>ID_NO_HAVE_USERNAME</source>
        <translation>No account yet?</translation>
    </message>
    <message>
        <source>ID_NO_REG_FACE</source>
        <translation>No face registered yet.</translation>
    </message>
    <message>
        <source>ID_NO_SCHOOL</source>
        <translation>No school found.</translation>
    </message>
    <message>
        <source>ID_NetWork_CHECK</source>
        <translation>Please check the network connection.</translation>
    </message>
    <message>
        <source>ID_NetWork_Connect_Error</source>
        <translation>Cannot connect to the network.</translation>
    </message>
    <message>
        <source>ID_NetWork_ERROR</source>
        <translation>Network error</translation>
    </message>
    <message>
        <source>ID_OPERATION_FAILED</source>
        <translation>Operation failed.</translation>
    </message>
    <message>
        <source>ID_OPERATION_TOOMANY</source>
        <translation>Too many operations; please try again later.</translation>
    </message>
    <message>
        <source>ID_OPERATOR_REGFACE</source>
        <translation>Register your face</translation>
    </message>
    <message>
        <source>ID_OPERATOR_TIMEOUT</source>
        <translation>The operation timed out.</translation>
    </message>
    <message>
        <source>ID_PASSWORD</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>ID_PASSWORD_CONFIRMTIP</source>
        <translation>Please confirm the password.</translation>
    </message>
    <message>
        <source>ID_PASSWORD_CONFIRM_UNSAME</source>
        <translation>The two passwords are not the same.</translation>
    </message>
    <message>
        <source>ID_PASSWORD_FINDOK</source>
        <translation>The password has been reset.</translation>
    </message>
    <message>
        <source>ID_PASSWORD_LEN</source>
        <translation>The length of password is 6-16!</translation>
    </message>
    <message>
        <source>ID_PASSWORD_NOTEQUAL</source>
        <translation>The passwords do not match.</translation>
    </message>
    <message>
        <source>ID_PASSWORD_TIP</source>
        <translation>Letters, digits or symbols</translation>
    </message>
    <message>
        <source>ID_PDF_FILE_OPEN_FAILED</source>
        <translation>The PDF file could not be opened.</translation>
    </message>
    <message>
        <source>ID_PHONE</source>
        <translation>Mobile number</translation>
    </message>
    <message>
        <source>ID_PHONE_EMAIL</source>
        <translation>Mobile number or e-mail</translation>
    </message>
    <message>
        <source>ID_PHONE_UN_EXIST</source>
        <translation>This mobile number is not registered.</translation>
    </message>
    <message>
        <source>ID_PREVIOUS_STEP</source>
        <translation>Previous</translation>
    </message>
    <message>
        <source>ID_PROVINCE</source>
        <translation>Province</translation>
    </message>
    <message>
        <source>ID_QUCKLOGIN_OVERTIME</source>
        <translation>The QR code has expired; please refresh it.</translation>
    </message>
    <message>
        <source>ID_REALNAME_LEN</source>
        <translation>The real name is 2-20 characters long.</translation>
    </message>
    <message>
        <source>ID_REAL_NAME</source>
        <translation>Real name</translation>
    </message>
    <message>
        <source>ID_REFRESH</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>ID_REG</source>
        <translation>Register</translation>
    </message>
    <message>
        <source>ID_REGFACE_READY</source>
        <translation>Ready to register your face.</translation>
    </message>
    <message>
        <source>ID_REGISTER_AGREE</source>
        <translation>I have read and agree to</translation>
    </message>
    <message>
        <source>ID_REGISTER_AGREEMENT</source>
        <translation>the registration agreement</translation>
    </message>
    <message>
        <source>ID_REG_ACCOUNT</source>
        <translation>Register an account</translation>
    </message>
    <message>
        <source>ID_REG_ALREADY</source>
        <translation>Already registered.</translation>
    </message>
    <message>
        <source>ID_REG_ALREADY_L</source>
        <translation>This account is already registered; please sign in.</translation>
    </message>
    <message>
        <source>ID_REG_ERROR</source>
        <translation>Registration failed.</translation>
    </message>
    <message>
        <source>ID_REG_FACE</source>
        <translation>Face registration</translation>
    </message>
    <message>
        <source>ID_REG_FACE_CLOSE</source>
        <translation>Close face registration</translation>
    </message>
    <message>
        <source>ID_REG_FACE_LAW</source>
        <translation>Your face data is used only for signing in.</translation>
    </message>
    <message>
        <source>ID_REG_FACE_NOW</source>
        <translation>Register your face now</translation>
    </message>
    <message>
        <source>ID_REG_FACE_TIMEOUT</source>
        <translation>Face registration timed out.</translation>
    </message>
    <message>
        <source>ID_REG_FACE_TIP</source>
        <translation>Keep your face inside the frame.</translation>
    </message>
    <message>
        <source>ID_REG_NOW</source>
        <translation>Register now</translation>
    </message>
    <message>
        <source>ID_REMEMBER_PASSWORD</source>
        <translation>Remember password</translation>
    </message>
    <message>
        <source>ID_REMOKE_UPAN_AUTO_LOGIN</source>
        <translation>Turn off automatic sign-in with the USB stick</translation>
    </message>
    <message>
        <source>ID_REMOVE_LOGIN_UPAN</source>
        <translation>Release the login stick</translation>
    </message>
    <message>
        <source>ID_REMOVE_LOGIN_UPAN_SUCCESS</source>
        <translation>The login stick has been released.</translation>
    </message>
    <message>
        <source>ID_RESET_PASSWORD</source>
        <translation>Reset password</translation>
    </message>
    <message>
        <source>ID_RESOURCE_COMPLETE</source>
        <translation>Resource complete</translation>
    </message>
    <message>
        <source>ID_SCAN_DOWNLOAD_APP</source>
        <translation>Scan to download the app</translation>
    </message>
    <message>
        <source>ID_SCHOOL_NAME</source>
        <translation>School name</translation>
    </message>
    <message>
        <source>ID_SCHOOL_SEARCH</source>
        <translation>Search for a school</translation>
    </message>
    <message>
        <source>ID_SCHOOL_SEARCH_KEYWORD</source>
        <translation>Enter a keyword of the school</translation>
    </message>
    <message>
        <source>ID_SCHOOL_UNEXIST</source>
        <translation>The school does not exist.</translation>
    </message>
    <message>
        <source>ID_SECOND</source>
        <translation>s</translation>
    </message>
    <message>
        <source>ID_SELECT_AREA</source>
        <translation>Select an area</translation>
    </message>
    <message>
        <source>ID_SELECT_LOGIN_UPAN</source>
        <translation>Select the login stick</translation>
    </message>
    <message>
        <source>ID_SELECT_REGION</source>
        <translation>Select a region</translation>
    </message>
    <message>
        <source>ID_SELECT_SUBJECT</source>
        <translation>Select a subject</translation>
    </message>
    <message>
        <source>ID_SELECT_UPAN</source>
        <translation>Select a USB stick</translation>
    </message>
    <message>
        <source>ID_SENDINFO_TOOMANY</source>
        <translation>Too many codes sent; please try again later.</translation>
    </message>
    <message>
        <source>ID_SEND_CODE</source>
        <translation>Send code</translation>
    </message>
    <message>
        <source>ID_SPEECH_CODE</source>
        <translation>Voice code</translation>
    </message>
    <message>
        <source>ID_SPEECH_CODE_TIP</source>
        <translation>You will get a call that reads out the code.</translation>
    </message>
    <message>
        <source>ID_SURPLUS</source>
        <translation>Remaining</translation>
    </message>
    <message>
        <source>ID_SWITCH_ACCOUNTLOGIN</source>
        <translation>Switch to account sign-in</translation>
    </message>
    <message>
        <source>ID_SWITCH_FACE_LOGIN</source>
        <translation>Switch to face sign-in</translation>
    </message>
    <message>
        <source>ID_SWITCH_QUCKLOGIN</source>
        <translation>Switch to QR code sign-in</translation>
    </message>
    <message>
        <source>ID_TOKEN_ERROR</source>
        <translation>The sign-in has expired; please sign in again.</translation>
    </message>
    <message>
        <source>ID_TOOMANY</source>
        <translation>Too many attempts.</translation>
    </message>
    <message>
        <source>ID_UNREG</source>
        <translation>Not registered</translation>
    </message>
    <message>
        <source>ID_UPAN_AUTO_LOGIN</source>
        <translation>Automatic sign-in with a USB stick</translation>
    </message>
    <message>
        <source>ID_UPAN_AUTO_LOGIN_START_TIP</source>
        <translation>Automatic sign-in with the USB stick is on.</translation>
    </message>
    <message>
        <source>ID_UPAN_AUTO_LOGIN_TIP</source>
        <translation>Insert the login stick and you are signed in automatically.</translation>
    </message>
    <message>
        <source>ID_UPAN_LOGIN_MAKE</source>
        <translation>Make a login stick</translation>
    </message>
    <message>
        <source>ID_UPAN_MAKE</source>
        <translation>Make</translation>
    </message>
    <message>
        <source>ID_UPAN_NOT_HAVE</source>
        <translation>No login stick found.</translation>
    </message>
    <message>
        <source>ID_USERNAME_DISABLE</source>
        <translation>This account is disabled.</translation>
    </message>
    <message>
        <source>ID_USERNAME_LOGINFAILURE</source>
        <translation>Sign-in failed.</translation>
    </message>
    <message>
        <source>ID_USERNAME_NOACTIVATED</source>
        <translation>This account is not activated.</translation>
    </message>
    <message>
        <source>ID_USERNAME_PASSWORD_ERROR</source>
        <translation>Wrong user name or password.</translation>
    </message>
    <message>
        <source>ID_USERNAME_PASSWORD_ERROR_TOMANY</source>
        <translation>Too many wrong passwords; please try again later.</translation>
    </message>
    <message>
        <source>ID_USER_LOGIN</source>
        <translation>User sign-in</translation>
    </message>
    <message>
        <source>ID_USER_UN_EXIST</source>
        <translation>The user does not exist.</translation>
    </message>
    <message>
        <source>ID_USE_DIRECT</source>
        <translation>Use directly</translation>
    </message>
    <message>
        <source>ID_USE_PAVOCLASSAPP</source>
        <translation>Scan with the Pavo Class app</translation>
    </message>
    <message>
        <source>ID_USE_OTHERACCOUNT</source>
        <translation>Use another account</translation>
    </message>
    <message>
        <source>ID_USE_WEIXIN_PAVOCLASSAPP</source>
        <translation>Scan with WeChat or the Pavo Class app</translation>
    </message>
    <message>
        <source>ID_VERIFICATION_FAILURE</source>
        <translation>Verification failed.</translation>
    </message>
    <message>
        <source>ID_WEIXIN</source>
        <translation>WeChat</translation>
    </message>
    <message>
        <source>ID_WELCOM_YOU</source>
        <translation>Welcome</translation>
    </message>
    <message>
        <source>ID_WIFI_NETWORK</source>
        <translation>Wi-Fi network</translation>
    </message>
</context>
<context>
    <name>ZQOrganizationBindPage</name>
    <message>
        <source>ID_OK</source>
        <translation>OK</translation>
    </message>
</context>
</TS>
